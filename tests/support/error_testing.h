// Helpers for the in-process tests of errors, the failure report and processor faults.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <functional>
#include <iterator>
#include <string>
#include <string_view>

#include "gtest/gtest.h"
#include "platform/errors.h"
#include "platform/fault.h"
#include "platform/report.h"

// libgcc's look-up of the unwind information that covers a code address; `func` is the start of
// the function it describes.
struct dwarf_eh_bases {
  void* tbase;
  void* dbase;
  void* func;
};
extern "C" const void* _Unwind_Find_FDE(void* pc, dwarf_eh_bases* bases);

// A function the compiler neither inlines nor analyses across calls: its frame and return
// addresses are the ones the source shows.
#define NOIPA __attribute__((noinline, noipa))

namespace launcher {

// Keeps the compiler from turning a call just before it into a tail call.
inline void Barrier() { __asm__ volatile("" ::: "memory"); }

// The start of the function whose code holds `address`, or null.
inline const void* FunctionContaining(const void* address) {
  dwarf_eh_bases bases{};
  if (_Unwind_Find_FDE(const_cast<void*>(address), &bases) == nullptr) return nullptr;
  return bases.func;
}

template <typename F>
const void* CodeAddress(F* function) {
  return reinterpret_cast<const void*>(function);
}

inline const void* At(std::uintptr_t address) { return reinterpret_cast<const void*>(address); }

// An address as the report writes it: 16 upper-case hexadecimal digits.
inline std::string Hex(const void* address) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llX",
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(address)));
  return text;
}

// A death-test pattern that matches exactly `text`.
inline std::string Exactly(std::string_view text) {
  std::string pattern = "^";
  for (const char c : text) {
    if (std::string_view("\\^$.|?*+()[]{}").find(c) != std::string_view::npos) pattern += '\\';
    pattern += c;
  }
  return pattern + "$";
}

// Runs `body` where no handler of the caller's can catch what it raises (the test framework
// catches everything that leaves a test): an error that leaves it is unhandled. The body runs in
// a frame of its own: a noexcept function that itself holds clean-ups (temporaries, or a caller's
// try block after inlining) gets a landing pad that runs them and calls std::terminate with no
// exception being handled.
__attribute__((noinline)) inline void Unguarded(const std::function<void()>& body) noexcept {
  body();
}

// A chain of frame records as the stack holds them: each record gives the caller's record, which
// lies above it, and the return address into the caller. Lives on the stack, where the back trace
// is willing to follow it.
struct FrameRecord {
  const FrameRecord* caller;
  const void* return_address;
};

// Links records[0..count) upward, the last one without a caller; return address i is 0x1000 + i.
inline void LinkChain(FrameRecord* records, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    records[i] = {i + 1 < count ? &records[i + 1] : nullptr, At(0x1000 + i)};
  }
}

// The hooks as start-up sets them; the previous ones back afterwards.
class ErrorHooksTest : public testing::Test {
 protected:
  void SetUp() override {
    saved_error_proc_ = ErrorProc;
    saved_except_proc_ = ExceptProc;
    SetUpErrorHooks();
  }
  void TearDown() override {
    ErrorProc = saved_error_proc_;
    ExceptProc = saved_except_proc_;
  }

 private:
  TErrorProc saved_error_proc_ = nullptr;
  TExceptProc saved_except_proc_ = nullptr;
};

// The fault handlers and the unhandled-error handler installed as start-up installs them, with the
// hooks; the previous actions, handler and hooks back afterwards.
class FaultHandlersTest : public ErrorHooksTest {
 protected:
  void SetUp() override {
    ErrorHooksTest::SetUp();
    previous_terminate_ = std::get_terminate();
    InstallFaultSignalHandlers();
    InstallUnhandledErrorHandler();
  }
  void TearDown() override {
    for (std::size_t i = 0; i < std::size(kCaughtSignals); ++i) {
      sigaction(kCaughtSignals[i], &PreviousAction(static_cast<int>(i)), nullptr);
    }
    std::set_terminate(previous_terminate_);
    ErrorHooksTest::TearDown();
  }

 private:
  std::terminate_handler previous_terminate_ = nullptr;
};

}  // namespace launcher
