// Memory: every form of `new` either gives a usable block, raises the launcher's own
// out-of-memory error at its caller (plain, array and aligned forms), or gives null without
// raising anything (the nothrow forms).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include "gtest/gtest.h"
#include "platform/errors.h"
#include "tests/support/error_testing.h"

namespace launcher {
namespace {

using MemoryTest = ErrorHooksTest;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAllocatorReportsImpossibleSizes = true;  // the sanitizer's allocator stops there
#else
constexpr bool kAllocatorReportsImpossibleSizes = false;
#endif

volatile std::size_t g_impossible_size = std::size_t{1} << 62;  // more than the address space
void* volatile g_block = nullptr;

// A type whose alignment is beyond what the plain forms guarantee: `new` of it takes the aligned
// forms.
struct alignas(256) CacheLines {
  unsigned char bytes[256];
};
constexpr auto kWide = std::align_val_t{alignof(CacheLines)};

// Each records the return address into its caller: the back trace of its failure starts there.
const void* volatile g_return_address = nullptr;

NOIPA void PlainNew() {
  g_return_address = __builtin_return_address(0);
  g_block = ::operator new(g_impossible_size);
}
NOIPA void ArrayNew() {
  g_return_address = __builtin_return_address(0);
  g_block = ::operator new[](g_impossible_size);
}
NOIPA void AlignedNew() {
  g_return_address = __builtin_return_address(0);
  g_block = ::operator new(g_impossible_size, kWide);
}
NOIPA void AlignedArrayNew() {
  g_return_address = __builtin_return_address(0);
  g_block = ::operator new[](g_impossible_size, kWide);
}
NOIPA void AlignedNewExpression() {
  g_return_address = __builtin_return_address(0);
  g_block = new CacheLines[g_impossible_size / 256];
}

struct ThrowingForm {
  const char* name;
  void (*fail)();
};

const ThrowingForm kThrowingForms[] = {
    {"new", PlainNew},
    {"new[]", ArrayNew},
    {"aligned new", AlignedNew},
    {"aligned new[]", AlignedArrayNew},
    {"new of an over-aligned type", AlignedNewExpression},
};

// Each form raises the one out-of-memory object, at an address inside the function that asked for
// the memory, not inside the C++ run-time or another form of `new`, with the back trace starting
// at the return address into that function's caller (not at the function itself a second time).
TEST_F(MemoryTest, ThrowingFormsRaiseTheOutOfMemoryErrorAtTheirCaller) {
  if (kAllocatorReportsImpossibleSizes) GTEST_SKIP() << "the sanitizer's allocator ends the test";
  const void* pre_created = nullptr;
  try {
    HandleRunError(kRunErrorOutOfMemory, At(0xC0DE), nullptr);
  } catch (const EOutOfMemory& error) {
    pre_created = &error;
  }
  ASSERT_NE(pre_created, nullptr);
  for (const ThrowingForm& form : kThrowingForms) {
    SCOPED_TRACE(form.name);
    const void* raised = nullptr;
    try {
      form.fail();
    } catch (const EOutOfMemory& error) {
      EXPECT_EQ(error.Message(), "Out of memory");
      raised = &error;
    } catch (const Exception& error) {
      ADD_FAILURE() << "raised " << error.ClassName();
    } catch (...) {
      ADD_FAILURE() << "raised something that is not an Exception";
    }
    EXPECT_EQ(raised, pre_created);
    // The raise address is the return address of the call of `new`.
    const RaiseRecord& raise = CurrentRaise();
    EXPECT_EQ(FunctionContaining(static_cast<const char*>(raise.addr) - 1), CodeAddress(form.fail));
    ASSERT_GE(raise.frame_count, 1);
    EXPECT_EQ(raise.frame[0], g_return_address);
  }
}

// Unhandled, a failed aligned `new` ends in the launcher's report, like any other.
TEST_F(MemoryTest, UnhandledFailedAlignedNewIsReportedAsOutOfMemory) {
  if (kAllocatorReportsImpossibleSizes) GTEST_SKIP() << "the sanitizer's allocator ends the test";
  EXPECT_EXIT(Unguarded([] {
                alarm(60);
                InstallUnhandledErrorHandler();
                AlignedNew();
              }),
              testing::ExitedWithCode(217),
              testing::ContainsRegex("\nEOutOfMemory: Out of memory\n"));
}

struct NothrowForm {
  const char* name;
  void* (*allocate)(std::size_t size);
};

const NothrowForm kNothrowForms[] = {
    {"new", [](std::size_t size) { return ::operator new(size, std::nothrow); }},
    {"new[]", [](std::size_t size) { return ::operator new[](size, std::nothrow); }},
    {"aligned new", [](std::size_t size) { return ::operator new(size, kWide, std::nothrow); }},
    {"aligned new[]", [](std::size_t size) { return ::operator new[](size, kWide, std::nothrow); }},
};

// Without memory the nothrow forms give null and raise nothing: no error, and no raise record.
TEST_F(MemoryTest, NothrowFormsGiveNullWithoutRaising) {
  if (kAllocatorReportsImpossibleSizes) GTEST_SKIP() << "the sanitizer's allocator ends the test";
  for (const NothrowForm& form : kNothrowForms) {
    SCOPED_TRACE(form.name);
    try {
      HandleRunError(kRunErrorOutOfMemory, At(0xC0DE), nullptr);
    } catch (const EOutOfMemory&) {
    }
    void* block = reinterpret_cast<void*>(1);
    EXPECT_NO_THROW(block = form.allocate(g_impossible_size));
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(CurrentRaise().addr, At(0xC0DE)) << "a raise was recorded";
  }
}

std::uintptr_t Misalignment(const void* block, std::size_t alignment) {
  return reinterpret_cast<std::uintptr_t>(block) % alignment;
}

// With memory, every form gives a writable block aligned as asked, even for zero bytes, and each
// block goes back through the matching `delete`.
TEST(MemoryBlocksTest, EveryFormGivesAnAlignedBlockThatItsDeleteTakesBack) {
  for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{100000}}) {
    SCOPED_TRACE(testing::Message() << size << " bytes");
    void* plain = ::operator new(size);
    std::memset(plain, 0xA5, size);
    ::operator delete(plain, size);
    void* array = ::operator new[](size);
    std::memset(array, 0xA5, size);
    ::operator delete[](array);
    for (const std::size_t alignment :
         {std::size_t{1}, std::size_t{8}, std::size_t{64}, std::size_t{4096}}) {
      SCOPED_TRACE(testing::Message() << "aligned to " << alignment);
      const auto wanted = std::align_val_t{alignment};
      void* aligned = ::operator new(size, wanted);
      EXPECT_EQ(Misalignment(aligned, alignment), 0u);
      std::memset(aligned, 0xA5, size);
      ::operator delete(aligned, size, wanted);
      void* aligned_array = ::operator new[](size, wanted);
      EXPECT_EQ(Misalignment(aligned_array, alignment), 0u);
      ::operator delete[](aligned_array, wanted);
      void* nothrow_aligned = ::operator new(size, wanted, std::nothrow);
      ASSERT_NE(nothrow_aligned, nullptr);
      EXPECT_EQ(Misalignment(nothrow_aligned, alignment), 0u);
      ::operator delete(nothrow_aligned, wanted, std::nothrow);
    }
    void* nothrow = ::operator new(size, std::nothrow);
    ASSERT_NE(nothrow, nullptr);
    ::operator delete(nothrow, std::nothrow);
  }
  auto* lines = new CacheLines[3];
  EXPECT_EQ(Misalignment(lines, alignof(CacheLines)), 0u);
  lines[2].bytes[255] = 1;
  delete[] lines;
}

}  // namespace
}  // namespace launcher
