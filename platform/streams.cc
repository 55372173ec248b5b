#include "platform/streams.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "platform/syscall.h"

namespace launcher {
namespace {

TextOutStream g_std_out(1);
TextOutStream g_std_err(2);

// Writes all of `text` to `fd`, across partial writes. A descriptor that was left non-blocking
// by whoever started the launcher is waited on rather than given up. Returns false on failure,
// with the system error in `error` (0 when the descriptor took nothing without an error).
bool WriteAll(int fd, const char* text, std::size_t size, int& error) noexcept {
  while (size > 0) {
    const SysResult written = Sys([&] { return ::write(fd, text, size); });
    if (written.error == EAGAIN) {
      pollfd ready{fd, POLLOUT, 0};
      const SysResult polled = Sys([&] { return ::poll(&ready, 1, -1); });
      if (!polled.Ok()) {
        error = polled.error;
        return false;
      }
      continue;
    }
    if (!written.Ok() || written.value == 0) {
      error = written.error;
      return false;
    }
    text += written.value;
    size -= static_cast<std::size_t>(written.value);
  }
  return true;
}

}  // namespace

void TextOutStream::SetUp() noexcept {
  termios attributes{};
  flush_each_write_ = Sys([&] { return ::ioctl(fd_, TCGETS, &attributes); }).Ok();
}

void TextOutStream::Put(std::string_view text) noexcept {
  while (!failed_ && !text.empty()) {
    if (used_ == kBufferSize && !Flush()) return;
    const std::size_t room = kBufferSize - used_;
    const std::size_t take = text.size() < room ? text.size() : room;
    std::memcpy(buffer_ + used_, text.data(), take);
    used_ += take;
    text.remove_prefix(take);
  }
}

void TextOutStream::EndWrite() noexcept {
  if (flush_each_write_) Flush();
}

bool TextOutStream::Write(std::initializer_list<std::string_view> pieces) noexcept {
  for (std::string_view piece : pieces) Put(piece);
  EndWrite();
  return !failed_;
}

bool TextOutStream::WriteLine(std::initializer_list<std::string_view> pieces) noexcept {
  for (std::string_view piece : pieces) Put(piece);
  Put("\n");
  EndWrite();
  return !failed_;
}

bool TextOutStream::Flush() noexcept {
  if (failed_) return false;
  // The buffer is emptied before its text goes out: a flush that a fault interrupts inside the
  // write, followed by the flush of the way out, never hands the same text over twice.
  const std::size_t size = used_;
  used_ = 0;
  if (size > 0 && !WriteAll(fd_, buffer_, size, error_)) failed_ = true;
  return !failed_;
}

TextOutStream& StdOut() noexcept { return g_std_out; }
TextOutStream& StdErr() noexcept { return g_std_err; }

void SetUpStandardStreams() noexcept {
  g_std_out.SetUp();
  g_std_err.SetUp();
}

void FormatAddress(const void* address, char (&out)[16]) noexcept {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  auto value = reinterpret_cast<std::uintptr_t>(address);
  for (int i = 15; i >= 0; --i) {
    out[i] = kDigits[value & 0xF];
    value >>= 4;
  }
}

}  // namespace launcher
