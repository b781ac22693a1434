// Splitting of the process command line into arguments.
//
// NextCmdLineToken implements the program's own quoting rules over one raw
// command-line string (the form some platforms hand a program). On POSIX the
// arguments arrive already split; they are used as they are, and argument 0 is the
// full path of the running program file.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Reads the next argument of Line from position Pos (advanced past it). Returns
// false when only separator bytes (codes 1 to 32) remain.
//  - a run of n backslashes before a double quote gives n/2 backslashes; with n even
//    the quote then toggles the in-quotes state, with n odd it is a literal quote;
//  - backslashes not followed by a double quote are copied unchanged;
//  - a double quote toggles the in-quotes state and is not copied;
//  - a byte of code 1 to 32 ends the argument outside quotes and is copied inside.
bool NextCmdLineToken(std::string_view line, std::size_t& pos, std::string& token);

// Argument in the form NextCmdLineToken reads back as exactly Argument (an argument
// holding a NUL byte cannot be passed): for starting the program with a raw command line.
std::string QuoteCmdLineArgument(std::string_view argument);

// All tokens of a raw command line, the program token first.
std::vector<std::string> SplitCmdLine(std::string_view line);

// Number of arguments after the program token of a raw command line.
int CmdLineParamCount(std::string_view line);
// Argument i of a raw command line (1-based); "" beyond the last one. For i of 0 or
// less, the path of the running program file.
std::string CmdLineParamStr(std::string_view line, int i);

// The process command line, as handed to main. Call once at start.
void SetProcessArgs(int argc, char** argv);
// Number of process arguments after the program.
int CmdLineParamCount();
// Process argument i: for i of 0 or less, the full path of the running program file;
// for 1 to CmdLineParamCount(), the argument; beyond that, "".
std::string CmdLineParamStr(int i);

// Full path of the running program file (argument 0 as given when it cannot be found).
std::string ProgramFilePath();
