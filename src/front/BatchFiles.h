// A folder run's plan: the source expanded into files, each file's target, the
// arguments of the run on one file, and the texts of the summary and the progress line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Whether the file-name part of Path holds "*" or "?".
bool HasWildcard(std::string_view path);
// Whether Name matches Pattern ("*" any run of characters, "?" one), ignoring the case of
// ASCII letters.
bool WildcardMatches(std::string_view pattern, std::string_view name);

struct TBatchFile {
  std::string Path;      // as the run opens it
  std::string Relative;  // below the source folder, with the platform's separators
  std::uint64_t Size = 0;
};
// The files a folder or pattern source names: for a folder every file whose name ends in
// ".tps", for a pattern every file whose name matches it, in any letter case; with
// Recurse also those of the subfolders. Sorted by their relative path, ignoring case.
std::vector<TBatchFile> ExpandSource(const std::string& source, bool recurse);

// The extension of the output of one file, chosen by the switches: ".txt" for text,
// or the one of the last output-form switch of the table in BatchFiles.cpp.
std::string OutputExtension(const std::vector<std::string>& arguments);
// Whether a target names a folder: an existing one, or a path ending in a separator.
bool TargetIsFolder(const std::string& target);
// Folder + the relative path of a source with its extension replaced by Extension.
std::string TargetInFolder(const std::string& folder, const std::string& relative,
                           const std::string& extension);

// The arguments of the run on one file: the program, the file and its target, then the
// switches of Arguments (after its source and target) except those of the folder run
// itself, and "/RUNSTATS=" + StatsPath.
std::vector<std::string> FileRunArguments(const std::string& program,
                                          const std::vector<std::string>& arguments,
                                          const TBatchFile& file, const std::string& target,
                                          const std::string& statsPath);

// A folder run's files converted into one SQLite database. A target that is not an
// existing folder and does not end with a separator is the database file.
bool TargetIsDatabase(const std::string& target);
// The names of a list as one text: each its length in decimal digits, ":" and its bytes,
// so that a name may hold any byte.
std::string JoinNames(const std::vector<std::string>& names);
// The names of a JoinNames text; false when Text is not one.
bool SplitNames(std::string_view text, std::vector<std::string>& names);
// The prefix of a file's tables whose names another file shares: its path below the
// source folder without its extension, every separator replaced by "_".
std::string TablePrefixOf(const std::string& relative);
using TRenames = std::vector<std::pair<std::string, std::string>>;  // (name, new name)
// The tables to rename when several files go into one database: Names[i] are the names
// file i gives its tables (unique within it, ignoring letter case). A name that two or
// more files give, ignoring ASCII letter case as SQLite does, becomes
// Prefixes[i] + "_" + the name in each of them, with "_2", "_3", ... after it when that
// is taken too. Returns the renames of each file.
std::vector<TRenames> SharedNameRenames(const std::vector<std::vector<std::string>>& names,
                                        const std::vector<std::string>& prefixes);

// The whole content of a file; "" when it cannot be read.
std::string ReadWholeFile(const std::string& path);
// Writes Text as the whole content of a file. Fails with EFCreateError.
void WriteWholeFile(const std::string& path, const std::string& text);

// The message of a failed run on one file, on one line: its report without the
// "Exception ... in module" line, or its standard error, or how it ended.
std::string FailureMessage(const std::string& out, const std::string& err, int exitCode,
                           int signal);

struct TBatchTotals {
  std::size_t Files = 0;
  std::size_t Done = 0;
  std::size_t Converted = 0;
  std::uint64_t Tables = 0;
  std::uint64_t Rows = 0;
  std::uint64_t BytesDone = 0;
  std::uint64_t BytesAll = 0;
};
// "Converted K of N files (T tables, R rows) in S s; F failed."
std::string SummaryLine(const TBatchTotals& totals, double seconds);
// "Files D of N, X of Y MB, R rows/s"
std::string ProgressLine(const TBatchTotals& totals, double seconds);
