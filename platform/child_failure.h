// How a parent learns why its child could not start a program: the child reports the step that
// failed and the system's error number before it ends, and the parent receives the report once
// the child has started the program or ended.
//
// The usual carrier is a pipe whose ends are close-on-exec: the start of the program closes the
// child's copy, so the parent's read ends without a report, and the program inherits no end of it.
// It works whether or not the child shares the parent's memory: vfork shares it on Linux, but
// where vfork behaves as fork (an emulator such as qemu-user, valgrind, some sandboxes) a report
// left in memory would be lost. When no pipe can be made (the descriptor limit), a page mapped
// shared and anonymous carries the report instead: it needs no descriptor, and a child made by
// fork shares it as well as one made by vfork. Only when not even that page can be had is the
// report written into the channel object itself, which only a child made by vfork shares.
//
// Use: Open before the child is created; in the child, Fail on any step that fails before the
// program starts (execve included); in the parent, Receive once the child exists (or could not be
// created), and again after the child has ended, which is when the page's report is complete under
// fork.
#pragma once

#include "platform/descriptor.h"

namespace launcher {

// The step of a child's preparation that failed.
enum class ChildStage : int {
  kNone,             // nothing failed: the child started the program, or has not failed yet
  kChangeDirectory,  // changing to the working directory asked for
  kProcessGroup,     // joining or making a process group
  kRedirect,         // opening or moving a standard descriptor
  kExecute,          // execve itself
};

struct ChildFailure {
  ChildStage stage = ChildStage::kNone;
  int error = 0;  // the system's error number

  bool Failed() const noexcept { return stage != ChildStage::kNone; }
};

class ChildFailureChannel {
 public:
  // A closed channel: it carries nothing, and Receive reports nothing.
  ChildFailureChannel() noexcept = default;
  // The child may hold the channel's address (vfork): it never moves.
  ChildFailureChannel(const ChildFailureChannel&) = delete;
  ChildFailureChannel& operator=(const ChildFailureChannel&) = delete;
  ~ChildFailureChannel() { Close(); }

  // Opens the channel for one child (closing what an earlier one left): the pipe, with both ends
  // above the standard descriptors so that a child that moves descriptors onto 0, 1 and 2 never
  // overwrites one; failing that, the shared page; failing that, the record in this object.
  void Open() noexcept;

  // In the child, before the program starts: records `stage` and `error` and ends the child at
  // once with exit status 127. Async-signal-safe, allocates nothing, writes no memory of the
  // parent's but the channel's record: usable after vfork and after fork.
  [[noreturn]] void Fail(ChildStage stage, int error) const noexcept;

  // In the parent: what the child has reported. With a pipe, it first closes the parent's copy of
  // the write end and waits until the child has started the program or ended, so the answer is
  // final (the pipe is then closed, and later calls give the same answer). Without a pipe, it is
  // what the record holds now: final when the child shared the parent's memory until the program
  // started (vfork, which suspends the parent until then), and otherwise once the child has ended.
  ChildFailure Receive() noexcept;

  // Closes the pipe and unmaps the page; the channel is closed afterwards.
  void Close() noexcept;

  // Whether the report travels through a pipe (for tests).
  bool HasPipe() const noexcept { return read_end_.valid(); }
  // Whether the report travels through the shared page (for tests).
  bool HasSharedPage() const noexcept { return page_ != nullptr; }

 private:
  Descriptor read_end_;
  Descriptor write_end_;
  void* page_ = nullptr;  // the shared page, or null
  // Where the report is written without a pipe (the page, or `own_`), and where the pipe's report
  // is kept once received.
  volatile ChildFailure* record_ = &own_;
  volatile ChildFailure own_;
};

}  // namespace launcher
