// The settings file init.ini: up to four lines, read by position, byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/byte_string.h"

namespace launcher {

// Reads a text file line by line through 256-byte block reads. Its operations never raise: a
// failure is recorded as the pending file error code (InOutRes), and while a code is pending
// they do nothing, except that ReadLine still empties its value.
class TextLineReader {
 public:
  static constexpr std::size_t kBlockSize = 256;

  TextLineReader() = default;
  TextLineReader(const TextLineReader&) = delete;
  TextLineReader& operator=(const TextLineReader&) = delete;
  // A file still open (after a failure part-way through it) is closed here, whatever descriptor
  // it received, so that no program started later inherits it.
  ~TextLineReader();

  // Opens `name` read-only, without close-on-exec; links are followed.
  void Open(const char* name);
  // Reads the next line into `value` and consumes its line end (LF, CR LF or a lone CR). At the
  // end of the file `value` is empty and no failure is recorded. When a read fails, `value`
  // holds the bytes gathered before the failure.
  void ReadLine(ByteString& value);
  // Closes the file.
  void Close();

  bool IsOpen() const noexcept { return open_; }
  int Descriptor() const noexcept { return fd_; }

 private:
  // Reads the next block. Returns whether the buffer holds bytes; false at the end of the file
  // and on a failure (then recorded).
  bool Fill();
  bool Exhausted() const noexcept { return position_ == count_; }

  int fd_ = -1;
  bool open_ = false;
  std::size_t count_ = 0;
  std::size_t position_ = 0;
  char buffer_[kBlockSize] = {};
};

// The code of the file layer for the system error number `error`.
int FileErrorCode(int error) noexcept;

// Raises the EInOutError for the pending file error code, if any, and clears that code. The
// error is raised at the caller's return address.
void CheckFileResult();

// Reads lines 1 to 4 of init.ini (in the current working directory) into the four values,
// storing each as soon as its line has been read. Raises EInOutError on the first failure; the
// values stored until then keep what they hold, and the file is closed.
void ReadSettings(ByteString& JavaHome, ByteString& ModulePath, ByteString& AddModules,
                  ByteString& MainClass);

}  // namespace launcher
