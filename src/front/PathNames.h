// The platform's path separators, for the parts of the program that cut a path
// into its directory and file-name parts (output naming, the failure report).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Position where the file-name part of Path begins: after the last "/" on POSIX;
// after the last "\", "/" or ":" on Windows (C:\out\data.txt, C:data.txt).
std::size_t FileNamePartStart(std::string_view path);

// Moves file From to To, replacing a file there (one step within a folder); false when
// the system refuses.
bool ReplaceFileWith(const std::string& from, const std::string& to);
// Removes a file; a file that cannot be removed stays, silently.
void RemoveFileQuietly(const std::string& path);

// The separator a path written for the user takes: "/" on POSIX, "\\" on Windows.
char PathSeparator();

// Whether file names are UTF-8 here, so that a UTF-8 table name may be part of one:
// on POSIX names are bytes; the Windows file calls used here take the system's ANSI
// code page instead.
bool FileNamesAreUtf8();

// Creates the folder Path unless it exists; fails with EFCreateError "Cannot create
// folder <path>".
void MakeDirectory(const std::string& path);
