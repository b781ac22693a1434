// Names of tables, columns and indexes in a database: one rule for every output form
// that creates tables.
#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// The most bytes of a PostgreSQL identifier; the server cuts longer ones, which could
// make two different names one.
inline constexpr std::size_t kPgNameBytes = 63;

// Name cut to at most MaxBytes bytes, never inside a UTF-8 sequence.
std::string CutName(std::string_view name, std::size_t maxBytes);

// The database name of a table: its stored name, or for an unnamed table (no name, or
// "UNNAMED") the source file's name without its folder and extension.
std::string DatabaseTableName(std::string_view storedName, std::string_view sourcePath);

// Makes every name, cut to MaxBytes, differ from the earlier ones ignoring ASCII letter
// case: a repeated name gets "_2", "_3", ... (skipping names already taken; the base is
// cut further so that the suffix fits). Returns the number of names that were renamed
// because of a repeat.
std::size_t MakeNamesUnique(std::vector<std::string>& names, std::size_t maxBytes);

// A name not yet in Taken (compared ignoring ASCII letter case), made from Base as
// MakeNamesUnique does; the name is added to Taken.
std::string TakeUniqueName(const std::string& base, std::set<std::string>& taken,
                           std::size_t maxBytes);

// The name of the index for key KeyName of Table: "<table>_<key name without the prefix
// before its first ':'>", unique in Taken as TakeUniqueName makes it.
std::string IndexName(std::string_view table, std::string_view keyName,
                      std::set<std::string>& taken, std::size_t maxBytes);
