// The standard output streams: descriptor 1 and descriptor 2, each with a 256-byte buffer. A
// stream whose descriptor is a terminal hands its text to the system at the end of every write
// operation; otherwise text collects until the buffer is full or the stream is flushed.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string_view>

namespace launcher {

class TextOutStream {
 public:
  static constexpr std::size_t kBufferSize = 256;

  constexpr explicit TextOutStream(int fd) noexcept : fd_(fd) {}
  TextOutStream(const TextOutStream&) = delete;
  TextOutStream& operator=(const TextOutStream&) = delete;

  // Decides the flush-each-write flag: set when the descriptor is a terminal.
  void SetUp() noexcept;

  // One write operation: the pieces, in order. Returns false once the stream has failed.
  bool Write(std::initializer_list<std::string_view> pieces) noexcept;
  // One write operation of a whole line: the pieces, then a line feed.
  bool WriteLine(std::initializer_list<std::string_view> pieces) noexcept;
  // Hands the buffered text to the system. Returns false once the stream has failed.
  bool Flush() noexcept;

  int fd() const noexcept { return fd_; }
  bool IsTerminal() const noexcept { return flush_each_write_; }
  // A stream whose descriptor refused a write drops everything from then on: the failure
  // report never starts again and never waits on a broken descriptor.
  bool Failed() const noexcept { return failed_; }
  // The system error of the write that failed (0 while none has, or when the descriptor took no
  // more bytes without an error).
  int Error() const noexcept { return error_; }

 private:
  void Put(std::string_view text) noexcept;
  void EndWrite() noexcept;

  int fd_;
  bool flush_each_write_ = false;
  bool failed_ = false;
  int error_ = 0;
  std::size_t used_ = 0;
  char buffer_[kBufferSize] = {};
};

TextOutStream& StdOut() noexcept;
TextOutStream& StdErr() noexcept;

// Start-up: decides both output streams' flush-each-write flags.
void SetUpStandardStreams() noexcept;

// Writes `address` as exactly 16 upper-case hexadecimal digits into `out`.
void FormatAddress(const void* address, char (&out)[16]) noexcept;

}  // namespace launcher
