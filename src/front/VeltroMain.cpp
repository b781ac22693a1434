#include "front/VeltroMain.h"

#include <cstdint>
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "cells/KvExceptions.h"
#include "cells/KvSettings.h"
#include "cells/KvStream.h"
#include "front/BatchFiles.h"
#include "front/BatchRun.h"
#include "front/BatchSystem.h"
#include "front/CmdLineHelper.h"
#include "front/PathNames.h"
#include "front/Progress.h"
#include "front/RunObject.h"
#include "front/RunOptions.h"

namespace {

void WriteRaw(std::FILE* f, std::string_view text) { std::fwrite(text.data(), 1, text.size(), f); }

// Warnings are left out (/QUIET).
bool warningsQuiet = false;

// Whether the run was given an owner password (for the hint after a signature failure).
bool ownerGiven = false;

// Whether the converted table goes to standard output: a failure report then goes to
// standard error as well, where it is seen apart from the data.
bool dataOnStdout = false;

// The failure report of this run, kept so that it can go to standard error when
// standard output cannot take it.
std::string failureReport;

// The entry's own work; failures leave it for the report in VeltroMain.
int RunEntry() {
  const int count = CmdLineParamCount();
  if (count < 2) {
    WriteRaw(stdout, UsageText());
    return ecDone;
  }
  std::vector<std::string> arguments;
  for (int i = 1; i <= count; ++i) arguments.push_back(CmdLineParamStr(i));
  std::vector<std::string> warnings;
  TRunOptions o = ParseRunOptions(arguments, &warnings);
  warningsQuiet = o.Quiet;
  for (const std::string& w : warnings) WriteWarningLine(w);
  // Nothing is read or written for a run without a target.
  if (const std::string missing = MissingTargetMessage(o); !missing.empty()) {
    WriteConsoleLine(missing);
    return ecFailure;
  }
  ownerGiven = o.Owner.has_value();
  if (IsFolderSource(o.Source)) return RunFolder(o, arguments);
  dataOnStdout = o.Target == kStandardOutputTarget && !o.ListOnly;
  // A target folder takes the output named after the source file.
  if (!o.ListOnly && !dataOnStdout && FileExists(o.Source) && TargetIsFolder(o.Target)) {
    MakeFolders(o.Target);
    const std::string name = o.Source.substr(FileNamePartStart(o.Source));
    o.Target = TargetInFolder(o.Target, name, OutputExtension(arguments));
  }

  TA a;
  // The data on standard output leaves no line of the terminal to rewrite.
  a.ProgressOnTerminal = !o.Quiet && !dataOnStdout && StandardErrorIsTerminal();
  a.ProgressAsked = !o.Quiet && o.Progress;
  return a.Run(o);
}

std::string FileNameOf(std::string_view path) {
  return std::string(path.substr(FileNamePartStart(path)));
}

int Report(std::string_view className, std::string_view message) {
  std::fflush(stdout);
  // C++ gives no address for the point where a failure was raised; the report names
  // the entry code that received it.
  const void* address = reinterpret_cast<const void*>(&RunEntry);
  failureReport = FailureReport(className, ProgramFilePath(), address, message);
  WriteRaw(stdout, failureReport);
  if (dataOnStdout) WriteRaw(stderr, failureReport);
  return ecFailure;
}

}  // namespace

void WriteConsoleLine(std::string_view text) {
  ClearProgressLine();
  WriteRaw(stdout, text);
  WriteRaw(stdout, "\r\n");
}

void WriteWarningLine(std::string_view text) {
  if (warningsQuiet) return;
  ClearProgressLine();
  std::fflush(stdout);
  WriteRaw(stderr, text);
  WriteRaw(stderr, "\r\n");
}

std::string FailureReport(std::string_view className, std::string_view programPath,
                          const void* address, std::string_view message) {
  char addressText[32];
  std::snprintf(addressText, sizeof addressText, "%016llX",
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(address)));
  std::string out = "Exception ";
  out += className;
  out += " in module ";
  out += FileNameOf(programPath);
  out += " at ";
  out += addressText;
  out += ".\r\n";
  out += message;
  if (message.empty() || message.back() != '.') out += '.';
  out += "\r\n";
  return out;
}

int VeltroMain(int argc, char** argv) {
  SetProcessArgs(argc, argv);
  int code = ecFailure;
  try {
    LoadSystemSettings();
    code = RunEntry();
  } catch (const EKvIFileFormatException& e) {
    // A file that fails the signature test may be an encrypted one.
    code = Report(e.ClassName(), e.Message());
    const std::string hint =
        ownerGiven ? "The owner password does not open this file."
                   : "The file may be encrypted: give its owner password with /OWNER=.";
    WriteConsoleLine(hint);
    if (dataOnStdout) WriteWarningLine(hint);
    failureReport += hint + "\r\n";
  } catch (const Exception& e) {
    code = Report(e.ClassName(), e.Message());
  } catch (const std::bad_alloc&) {
    code = Report("EOutOfMemory", "Out of memory");
  } catch (const std::exception& e) {
    code = Report("Exception", e.what());
  }
  // Messages and the table list that did not reach standard output are a failure
  // too; the report can then only go to standard error, and a failure report of the
  // run goes there as well rather than being lost.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    // With the data on standard output, the report of a failure is on standard error
    // already.
    if (!failureReport.empty() && dataOnStdout) return ecFailure;
    if (!failureReport.empty()) WriteRaw(stderr, failureReport);
    WriteRaw(stderr, FailureReport("EWriteError", ProgramFilePath(),
                                   reinterpret_cast<const void*>(&RunEntry),
                                   "Cannot write file standard output"));
    code = ecFailure;
  }
  return code;
}
