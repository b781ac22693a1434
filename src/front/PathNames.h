// The platform's path separators, for the parts of the program that cut a path
// into its directory and file-name parts (output naming, the failure report).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Position where the file-name part of Path begins: after the last "/" on POSIX;
// after the last "\", "/" or ":" on Windows (C:\out\data.txt, C:data.txt).
std::size_t FileNamePartStart(std::string_view path);

// The separator a path written for the user takes: "/" on POSIX, "\\" on Windows.
char PathSeparator();

// Creates the folder Path unless it exists; fails with EFCreateError "Cannot create
// folder <path>".
void MakeDirectory(const std::string& path);
