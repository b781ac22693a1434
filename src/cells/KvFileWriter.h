// The buffered output file of the writer.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

// An output file written through a large buffer: one system call per many lines.
// Create/truncate fails with EFCreateError "Cannot create file %s"; a failed write,
// flush or close with EWriteError "Cannot write file %s". Flush() pushes what was
// written so far to the file, so a failure later leaves the earlier lines in it.
//
// A full buffer is written by a second thread while the caller fills the other one
// (started with the first full buffer; small files never start it; without a thread
// or memory for one, the caller writes them). A failed write
// there is reported by the next Write that needs the thread, Flush or Close, and
// nothing is written after it. Flush, Close and the destructor wait for the thread,
// so what they leave in the file is what was written before, in order.
class TBufferedFileWriter {
 public:
  explicit TBufferedFileWriter(const std::string& path, std::size_t bufferSize = 1 << 20);
  // Writes to the process's standard output (a copy of its descriptor, closed by Close;
  // standard output itself stays open). Path() is "standard output".
  struct TStandardOutput {};
  explicit TBufferedFileWriter(TStandardOutput, std::size_t bufferSize = 1 << 20);
  ~TBufferedFileWriter();  // closes without throwing; call Close() to see errors
  TBufferedFileWriter(const TBufferedFileWriter&) = delete;
  TBufferedFileWriter& operator=(const TBufferedFileWriter&) = delete;

  void Write(std::string_view bytes) {
    if (bytes.size() <= buffer_.capacity() - buffer_.size())
      buffer_.append(bytes);
    else
      WriteSlow(bytes);
  }
  // Writes Bytes like Write, but a text longer than the buffer is handed to the second
  // thread as it is, without a copy; Bytes comes back empty, holding another buffer's
  // memory to be filled again.
  void WriteTakingOver(std::string& bytes);
  void Flush();
  void Close();
  const std::string& Path() const { return path_; }

 private:
  void WriteSlow(std::string_view bytes);
  void WriteAll(const char* data, std::size_t size);
  // The second thread: hands it the full buffer; waits until it is idle (throwing its
  // write error, once); ends it.
  void HandOver();
  // Starts the second thread unless it runs or cannot; false without one.
  bool StartWorker();
  // Gives the idle second thread Bytes to write, taking back its last buffer.
  void SwapInFlight(std::string& bytes);
  void WaitIdle();
  void StopWorker() noexcept;
  void WorkerLoop();
  std::string path_;
  int fd_ = -1;
  std::string buffer_;
  std::size_t bufferSize_;  // the buffer's size asked for (buffers swapped in may be larger)

  std::thread worker_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string inFlight_;  // the buffer being written by the worker
  bool busy_ = false;     // inFlight_ holds bytes to write
  bool stop_ = false;
  bool failed_ = false;    // a write failed: nothing more is written
  bool noWorker_ = false;  // the thread could not be started
  std::exception_ptr error_;
};
