#include "front/BatchRun.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "cells/KvExceptions.h"
#include "front/BatchFiles.h"
#include "front/BatchSystem.h"
#include "front/CmdLineHelper.h"
#include "front/PathNames.h"
#include "front/Progress.h"
#include "front/VeltroMain.h"

namespace {

using TClock = std::chrono::steady_clock;

// What the run on one file left behind.
struct TFileResult {
  bool Done = false;
  bool Converted = false;
  std::string Out, Err, Message;
  std::uint64_t Tables = 0, Rows = 0;
};

// How the program run on one file ended, and what it printed.
struct TChildRun {
  TChildEnd End;
  std::string Out, Err;
  bool Succeeded() const { return End.StartError.empty() && End.Signal == 0 && End.ExitCode == 0; }
  std::string Message() const {
    return !End.StartError.empty() ? End.StartError
                                   : FailureMessage(Out, Err, End.ExitCode, End.Signal);
  }
};

// Runs the program with Arguments; its output goes through files Base + ".out" and
// ".err", removed afterwards.
TChildRun RunOnFile(const std::string& program, const std::vector<std::string>& arguments,
                    const std::string& base) {
  TChildRun run;
  run.End = RunChildProgram(program, arguments, base + ".out", base + ".err");
  run.Out = ReadWholeFile(base + ".out");
  run.Err = ReadWholeFile(base + ".err");
  RemoveFile(base + ".out");
  RemoveFile(base + ".err");
  return run;
}

// The message of a failure raised in the folder run itself while it ran one file.
template <class Work>
std::string FailureOf(Work work) {
  try {
    work();
    return "";
  } catch (const Exception& e) {
    return e.Message();
  } catch (const std::exception& e) {
    return e.what();
  }
}

// Starts Jobs threads that run Work(i) for every i below Count, each i once.
template <class Work>
std::vector<std::thread> StartWorkers(std::size_t count, unsigned jobs,
                                      std::atomic<std::size_t>& next, Work work) {
  std::vector<std::thread> workers;
  for (unsigned w = 0; w < jobs; ++w)
    workers.emplace_back([&next, count, work] {
      for (std::size_t i; (i = next.fetch_add(1)) < count;) work(i);
    });
  return workers;
}

std::string ParentFolderOf(const std::string& path) {
  const std::size_t cut = FileNamePartStart(path);
  return cut == 0 ? std::string() : path.substr(0, cut);
}

}  // namespace

bool IsFolderSource(const std::string& source) {
  const TPathKind kind = PathKindOf(source);
  return kind == TPathKind::Folder || (kind == TPathKind::Missing && HasWildcard(source));
}

int RunFolder(const TRunOptions& o, const std::vector<std::string>& arguments) {
  const auto start = TClock::now();
  const std::vector<TBatchFile> files = ExpandSource(o.Source, o.Recurse);
  if (files.empty()) {
    // The message of a missing single file: scripts know it and its exit code.
    WriteConsoleLine("TopSpeed TPS file not found.");
    return ecNotFound;
  }
  // A list or a schema writes no files: its target is not looked at.
  const bool writes = !o.ListOnly && !o.SchemaOnly;
  // Every table of every file into one SQLite database.
  const bool intoDatabase = writes && o.Format == TOutputKind::Sqlite && TargetIsDatabase(o.Target);
  if (writes) {
    if (o.Target == kStandardOutputTarget)
      throw Exception(
          "The files of a folder or pattern go into a target folder, not to "
          "standard output");
    if (intoDatabase) {
      if (const std::string parent = ParentFolderOf(o.Target); !parent.empty()) MakeFolders(parent);
    } else {
      if (PathKindOf(o.Target) == TPathKind::File)
        throw EFCreateError("The target " + o.Target +
                            " is a file: the files of a folder or pattern go into a target folder");
      MakeFolders(o.Target);
    }
  }
  const std::string extension = OutputExtension(arguments);
  const std::string program = ProgramFilePath();
  const std::string temp = MakeTempFolder();
  struct TRemoveTemp {
    const std::string& Path;
    ~TRemoveTemp() { RemoveTempFolder(Path); }
  } removeTemp{temp};
  auto tempBase = [&](const char* kind, std::size_t i) {
    return temp + PathSeparator() + kind + std::to_string(i);
  };
  unsigned jobs = o.Jobs != 0 ? o.Jobs : std::max(1u, std::thread::hardware_concurrency());
  if (jobs > files.size()) jobs = unsigned(files.size());
  // The arguments of the run on file I into Target, with the switches of this run.
  auto fileArguments = [&](std::size_t i, const std::string& target, const std::string& base) {
    return FileRunArguments(program, arguments, files[i], target, base + ".stats");
  };

  // Into one database, a first look at every file gives the names of its tables: those
  // that two files share are renamed with the file's name before them. A file whose
  // first look fails has failed.
  std::vector<std::string> failedFirst(files.size());
  std::vector<std::string> renamesPath(files.size());
  if (intoDatabase) {
    std::vector<std::vector<std::string>> names(files.size());
    std::atomic<std::size_t> next{0};
    for (std::thread& t : StartWorkers(files.size(), jobs, next, [&](std::size_t i) {
           const std::string base = tempBase("names", i);
           failedFirst[i] = FailureOf([&] {
             std::vector<std::string> args = fileArguments(i, o.Target, base);
             args.push_back("/TABLENAMESTO=" + base + ".names");
             const TChildRun run = RunOnFile(program, args, base);
             const std::string listed = ReadWholeFile(base + ".names");
             const bool named = PathKindOf(base + ".names") == TPathKind::File;
             RemoveFile(base + ".names");
             RemoveFile(base + ".stats");
             if (!run.Succeeded()) throw Exception(run.Message());
             if (!named || !SplitNames(listed, names[i]))
               throw Exception("The names of the file's tables could not be read");
           });
         }))
      t.join();
    std::vector<std::string> prefixes;
    for (const TBatchFile& f : files) prefixes.push_back(TablePrefixOf(f.Relative));
    const std::vector<TRenames> renames = SharedNameRenames(names, prefixes);
    for (std::size_t i = 0; i < files.size(); ++i) {
      if (!failedFirst[i].empty()) continue;
      std::vector<std::string> pairs;
      for (const auto& [name, renamed] : renames[i]) {
        pairs.push_back(name);
        pairs.push_back(renamed);
      }
      renamesPath[i] = tempBase("renames", i);
      failedFirst[i] = FailureOf([&] { WriteWholeFile(renamesPath[i], JoinNames(pairs)); });
    }
  }

  std::vector<TFileResult> results(files.size());
  TBatchTotals totals;
  totals.Files = files.size();
  for (const TBatchFile& f : files) totals.BytesAll += f.Size;
  std::mutex lock;
  std::condition_variable changed;

  auto convert = [&](std::size_t i) {
    TFileResult r;
    const std::string base = tempBase("", i);
    r.Message = failedFirst[i];
    if (r.Message.empty())
      r.Message = FailureOf([&] {
        std::string target = o.Target;
        if (!intoDatabase) {
          target = TargetInFolder(o.Target, files[i].Relative, extension);
          if (writes && o.Recurse) MakeFolders(ParentFolderOf(target));
        }
        std::vector<std::string> args = fileArguments(i, target, base);
        if (intoDatabase) args.push_back("/RENAMETABLES=" + renamesPath[i]);
        const TChildRun run = RunOnFile(program, args, base);
        r.Out = run.Out;
        r.Err = run.Err;
        const std::string stats = ReadWholeFile(base + ".stats");
        RemoveFile(base + ".stats");
        unsigned long long tables = 0, rows = 0;
        r.Converted =
            run.Succeeded() && std::sscanf(stats.c_str(), "%llu %llu", &tables, &rows) == 2;
        r.Tables = tables;
        r.Rows = rows;
        if (!r.Converted) throw Exception(run.Message());
      });
    r.Converted = r.Message.empty();
    if (!renamesPath[i].empty()) RemoveFile(renamesPath[i]);
    r.Done = true;
    std::lock_guard<std::mutex> guard(lock);
    ++totals.Done;
    totals.BytesDone += files[i].Size;
    if (r.Converted) {
      ++totals.Converted;
      totals.Tables += r.Tables;
      totals.Rows += r.Rows;
    }
    results[i] = std::move(r);
    changed.notify_all();
  };
  std::atomic<std::size_t> next{0};
  std::vector<std::thread> workers = StartWorkers(files.size(), jobs, next, convert);

  TProgress progress(!o.Quiet && StandardErrorIsTerminal(), !o.Quiet && o.Progress);
  auto showProgress = [&](bool last) {
    progress.Show(ProgressLine(totals, progress.Elapsed()), last);
  };
  // Passes on, in the files' order, what each run printed: a list under the file's name,
  // warnings with the file's name before them.
  std::size_t emitted = 0;
  auto emitReady = [&] {
    for (; emitted < files.size() && results[emitted].Done; ++emitted) {
      const TFileResult& r = results[emitted];
      const std::string& name = files[emitted].Path;
      if (r.Converted && !r.Out.empty()) {
        WriteConsoleLine(name);
        std::fwrite(r.Out.data(), 1, r.Out.size(), stdout);
      }
      // A failure whose message came from standard error has it in the summary already.
      if (!o.Quiet && !r.Err.empty() && (r.Converted || !r.Out.empty())) {
        std::size_t from = 0;
        while (from < r.Err.size()) {
          std::size_t end = r.Err.find('\n', from);
          if (end == std::string::npos) end = r.Err.size();
          std::string line = r.Err.substr(from, end - from);
          if (!line.empty() && line.back() == '\r') line.pop_back();
          if (!line.empty()) WriteWarningLine(name + ": " + line);
          from = end + 1;
        }
      }
    }
  };
  {
    std::unique_lock<std::mutex> guard(lock);
    while (totals.Done < files.size()) {
      changed.wait_for(guard, std::chrono::milliseconds(250));
      emitReady();
      showProgress(false);
    }
  }
  for (std::thread& t : workers) t.join();
  emitReady();
  showProgress(true);

  const double seconds = std::chrono::duration<double>(TClock::now() - start).count();
  for (std::size_t i = 0; i < files.size(); ++i)
    if (!results[i].Converted) WriteConsoleLine(files[i].Path + ": " + results[i].Message);
  WriteConsoleLine(SummaryLine(totals, seconds));
  return totals.Converted == totals.Files ? ecDone : ecFailure;
}
