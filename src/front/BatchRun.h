// A folder run: one call converts every file a folder or a pattern names. Each file is
// converted by the program itself started on that file alone with the same switches, so
// its outputs are the bytes of a run on that file by construction, its memory is its own
// and a crash ends only its own conversion. Several such runs go at once (/JOBS=); their
// list output and warnings are passed on in the files' order, and a summary ends the run.
#pragma once

#include <string>
#include <vector>

#include "front/RunOptions.h"

// Whether Source names a folder or holds a wildcard in its file-name part (and is no
// file of that name).
bool IsFolderSource(const std::string& source);

// Converts every file of the folder or pattern Options.Source into the folder
// Options.Target; Arguments are the command line's arguments after the program.
// Returns 0 when every file converted, 1 when any failed, 2 when no file matched.
int RunFolder(const TRunOptions& options, const std::vector<std::string>& arguments);
