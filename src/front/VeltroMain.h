// The program entry: command line, run driver, and the report of a failure that
// nothing else handles.
//
// Exit codes: 0 done (also after the usage text), 1 a failure ended the run,
// 2 nothing converted because the source file or the named table is missing.
#pragma once

#include <string>
#include <string_view>

// ecDamaged: the output was written, but the file is damaged and something was lost
// or left out (the warnings say what).
enum TExitCode : int { ecDone = 0, ecFailure = 1, ecNotFound = 2, ecDamaged = 3 };

int VeltroMain(int argc, char** argv);

// One console message on standard output, ended by CR LF.
void WriteConsoleLine(std::string_view text);
// One warning on standard error, ended by CR LF.
void WriteWarningLine(std::string_view text);

// The two lines reporting an unhandled failure: "Exception <class> in module
// <program file name> at <address>." and the message with a full stop added when it
// does not end with one; each ended by CR LF.
std::string FailureReport(std::string_view className, std::string_view programPath,
                          const void* address, std::string_view message);
