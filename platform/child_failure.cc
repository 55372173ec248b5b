#include "platform/child_failure.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "platform/syscall.h"

namespace launcher {

void ChildFailureChannel::Open() noexcept {
  Close();
  int ends[2];
  if (Sys([&] { return ::pipe2(ends, O_CLOEXEC); }).Ok()) {
    read_end_ = AboveStandard(Descriptor(ends[0]));
    write_end_ = AboveStandard(Descriptor(ends[1]));
    if (read_end_.valid() && write_end_.valid()) return;
    read_end_.Close();
    write_end_.Close();
  }
  // One page, zero-filled: the record it starts with reports nothing.
  const SysResult mapped = Sys([] {
    void* page = ::mmap(nullptr, sizeof(ChildFailure), PROT_READ | PROT_WRITE,
                        MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    return page == MAP_FAILED ? -1L : reinterpret_cast<long>(page);
  });
  if (mapped.Ok()) {
    page_ = reinterpret_cast<void*>(mapped.value);
    record_ = static_cast<volatile ChildFailure*>(page_);
  }
}

void ChildFailureChannel::Fail(ChildStage stage, int error) const noexcept {
  if (write_end_.valid()) {
    // One write, which a pipe keeps whole: the record is far below PIPE_BUF.
    const ChildFailure failure{stage, error};
    Sys([&] { return ::write(write_end_.get(), &failure, sizeof failure); });
  } else {
    record_->error = error;
    record_->stage = stage;
  }
  ::_exit(127);
}

ChildFailure ChildFailureChannel::Receive() noexcept {
  if (read_end_.valid()) {
    write_end_.Close();
    ChildFailure failure;
    const SysResult got = Sys([&] { return ::read(read_end_.get(), &failure, sizeof failure); });
    read_end_.Close();
    if (got.value == static_cast<long>(sizeof failure)) {
      own_.error = failure.error;
      own_.stage = failure.stage;
    }
  }
  return {record_->stage, record_->error};
}

void ChildFailureChannel::Close() noexcept {
  read_end_.Close();
  write_end_.Close();
  if (page_ != nullptr) Sys([&] { return ::munmap(page_, sizeof(ChildFailure)); });
  page_ = nullptr;
  record_ = &own_;
  own_.stage = ChildStage::kNone;
  own_.error = 0;
}

}  // namespace launcher
