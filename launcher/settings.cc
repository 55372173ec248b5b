#include "launcher/settings.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "platform/errors.h"
#include "platform/syscall.h"

namespace launcher {
namespace {

constexpr int kFileNotOpen = 103;

}  // namespace

int FileErrorCode(int error) noexcept {
  switch (error) {
    case ENOENT:
      return 2;
    case ENAMETOOLONG:
      return 3;
    case ENFILE:
    case EMFILE:
      return 4;
    case EACCES:
    case EBUSY:
    case EEXIST:
    case ENOTDIR:
    case EISDIR:
    case EROFS:
    case ENOTEMPTY:
      return 5;
    case EBADF:
      return 6;
    case EINTR:
    case EIO:
    case EAGAIN:
    case ENOSPC:
    case EPIPE:
      return 101;
    case ENOMEM:
    case EFAULT:
      return 217;
    case EINVAL:
      return 218;
    default:
      return error;
  }
}

TextLineReader::~TextLineReader() {
  if (open_) CloseDescriptor(fd_);
}

void TextLineReader::Open(const char* name) {
  if (InOutRes != 0) return;
  const SysResult opened = Sys([&] { return ::open(name, O_RDONLY); });
  if (!opened.Ok()) {
    InOutRes = static_cast<std::uint16_t>(FileErrorCode(opened.error));
    return;
  }
  fd_ = static_cast<int>(opened.value);
  open_ = true;
  count_ = position_ = 0;
}

bool TextLineReader::Fill() {
  const SysResult read =
      Sys([&] { return ::read(fd_, buffer_, kBlockSize); }, Retry::kOnInterruptOrAgain);
  position_ = 0;
  count_ = read.Ok() ? static_cast<std::size_t>(read.value) : 0;
  if (!read.Ok()) InOutRes = static_cast<std::uint16_t>(FileErrorCode(read.error));
  return count_ > 0;
}

void TextLineReader::ReadLine(ByteString& value) {
  value.Clear();
  if (InOutRes != 0) return;
  if (!open_) {
    InOutRes = kFileNotOpen;
    return;
  }
  // Collect bytes up to the next line-end byte, the end of the file or a failed read.
  for (;;) {
    if (Exhausted() && !Fill()) break;
    const char* const start = buffer_ + position_;
    const std::size_t available = count_ - position_;
    std::size_t taken = 0;
    while (taken < available && start[taken] != '\n' && start[taken] != '\r') ++taken;
    value.Append(start, taken);
    position_ += taken;
    if (!Exhausted()) break;
  }
  if (InOutRes != 0) return;  // the line end stays unconsumed

  // Consume the line end; a CR and an LF split across two blocks are still one line end.
  if (Exhausted() && !Fill()) return;
  for (;;) {
    const char byte = buffer_[position_++];
    if (byte == '\n') return;
    if (Exhausted() && !Fill()) return;
    if (byte == '\r') {
      if (buffer_[position_] == '\n') ++position_;
      return;
    }
  }
}

void TextLineReader::Close() {
  if (InOutRes != 0) return;
  if (!open_) {
    InOutRes = kFileNotOpen;
    return;
  }
  const SysResult closed = CloseDescriptor(fd_);
  open_ = false;
  fd_ = -1;
  count_ = position_ = 0;
  if (!closed.Ok()) InOutRes = static_cast<std::uint16_t>(FileErrorCode(closed.error));
}

LAUNCHER_NOINLINE void CheckFileResult() {
  if (InOutRes == 0) return;
  const int code = InOutRes;
  InOutRes = 0;
  // Every failure of the file layer is an EInOutError carrying its code, whatever the code.
  RaiseInOutError(code, __builtin_return_address(0),
                  *static_cast<void* const*>(__builtin_frame_address(0)));
}

void ReadSettings(ByteString& JavaHome, ByteString& ModulePath, ByteString& AddModules,
                  ByteString& MainClass) {
  {
    TextLineReader reader;
    reader.Open("init.ini");
    if (reader.IsOpen()) {
      CheckFileResult();
      reader.ReadLine(JavaHome);
      CheckFileResult();
      reader.ReadLine(ModulePath);
      CheckFileResult();
      reader.ReadLine(AddModules);
      CheckFileResult();
      reader.ReadLine(MainClass);
      CheckFileResult();
      reader.Close();
      CheckFileResult();
      return;
    }
  }
  // The open failed (a launch without init.ini takes this way every time): the reader holds
  // nothing and is gone, so the error raised here leaves ReadSettings without a clean-up to run,
  // which would cost the unwinder a second start. The empty statement after the call keeps it a
  // call, never a jump: its return address into ReadSettings is where the error is raised.
  CheckFileResult();
  __asm__ volatile("");
}

}  // namespace launcher
