// The launcher executable's own C library: the few C functions that the launcher, the C++
// run-time support (exceptions) and the unwinder need, built straight on Linux system calls,
// and the process entry that prepares them. Linked into the release launcher only (tests and the
// sanitizer build use the system's C library); the launcher's code is the same either way.
//
// Why: the system C library's static start-up probes the processor with some forty CPUID
// instructions before main, and on a virtual machine each of them traps to the hypervisor (about
// 4 microseconds each where this was measured): more than the whole cost of a minimal launcher.
// The launcher uses none of what that probing selects, so it starts here instead:
//
//   1. relocate itself (the executable is a static PIE) and make the RELRO segment read-only;
//   2. set up thread-local storage, with the stack protector's canary from the kernel's
//      AT_RANDOM bytes, as the C library would;
//   3. run the static initialisers and main.
//
// The system calls are the ones the C library would make for the same functions (open is
// openat, stat is newfstatat), with the same results: -1 and errno on failure. Memory comes from
// a small static arena for small blocks and from mmap for large ones, which realloc grows with
// mremap (moving pages, never copying bytes).
//
// This file is compiled without _FORTIFY_SOURCE, whose inline wrappers would stand in the way of
// these definitions; it includes no C library header that declares the functions it defines.
#undef _FORTIFY_SOURCE

#include <elf.h>
#include <emmintrin.h>
#include <sys/syscall.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <utility>

#include "platform/error_text.h"

extern "C" {

// Provided by the linker.
extern const Elf64_Ehdr __ehdr_start __attribute__((visibility("hidden")));
extern char _end[] __attribute__((visibility("hidden")));
using InitFunction = void (*)(int, char**, char**);
extern InitFunction __preinit_array_start[] __attribute__((visibility("hidden")));
extern InitFunction __preinit_array_end[] __attribute__((visibility("hidden")));
extern InitFunction __init_array_start[] __attribute__((visibility("hidden")));
extern InitFunction __init_array_end[] __attribute__((visibility("hidden")));

// The program's main, whatever parameters it declares.
int launcher_libc_main(int argc, char** argv, char** envp) __asm__("main");
void launcher_libc_restore_rt();

// errno; also written by vfork (minimal_libc_x86_64.S).
__attribute__((visibility("hidden"))) int launcher_libc_errno = 0;

char** environ = nullptr;
void* __libc_stack_end = nullptr;
void* __dso_handle = &__dso_handle;

}  // extern "C"

namespace {

using std::size_t;
using std::uintptr_t;

// ---- System calls --------------------------------------------------------------------------

long RawSyscall(long number, long a = 0, long b = 0, long c = 0, long d = 0, long e = 0,
                long f = 0) noexcept {
  long result;
  register long r10 __asm__("r10") = d;
  register long r8 __asm__("r8") = e;
  register long r9 __asm__("r9") = f;
  __asm__ volatile("syscall"
                   : "=a"(result)
                   : "a"(number), "D"(a), "S"(b), "d"(c), "r"(r10), "r"(r8), "r"(r9)
                   : "rcx", "r11", "memory");
  return result;
}

// The C library's convention: the result, or -1 with errno set.
long Checked(long result) noexcept {
  if (static_cast<unsigned long>(result) > static_cast<unsigned long>(-4096L)) {
    launcher_libc_errno = static_cast<int>(-result);
    return -1;
  }
  return result;
}

template <typename T>
long Arg(T value) noexcept {
  if constexpr (sizeof(T) < sizeof(long)) {
    return static_cast<long>(value);
  } else {
    return reinterpret_cast<long>(value);
  }
}

[[noreturn]] void ExitGroup(int status) noexcept {
  for (;;) RawSyscall(SYS_exit_group, status);
}

constexpr int kAtFdCwd = -100;
constexpr int kSigAbrt = 6;
constexpr long kSaRestorer = 0x04000000;

// ---- Memory and strings --------------------------------------------------------------------

void CopyForward(void* to, const void* from, size_t n) noexcept {
  __asm__ volatile("rep movsb" : "+D"(to), "+S"(from), "+c"(n) : : "memory");
}

void WriteAll(int fd, const char* text, size_t size) noexcept {
  while (size > 0) {
    const long written = RawSyscall(SYS_write, fd, Arg(text), static_cast<long>(size));
    if (written == -4) continue;  // EINTR
    if (written <= 0) return;
    text += written;
    size -= static_cast<size_t>(written);
  }
}

// Sixteen bytes at a time, from aligned loads, which never cross into another page.
size_t Length(const char* text) noexcept {
  const auto start = reinterpret_cast<uintptr_t>(text);
  const auto* block = reinterpret_cast<const __m128i*>(start & ~uintptr_t{15});
  const __m128i zero = _mm_setzero_si128();
  auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_load_si128(block), zero)));
  mask >>= start & 15;
  if (mask != 0) return static_cast<size_t>(__builtin_ctz(mask));
  for (;;) {
    ++block;
    mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_load_si128(block), zero)));
    if (mask != 0) {
      return reinterpret_cast<uintptr_t>(block) - start + static_cast<size_t>(__builtin_ctz(mask));
    }
  }
}

[[noreturn]] void Abort() noexcept;

[[noreturn]] void FatalMessage(const char* text) noexcept {
  WriteAll(2, text, Length(text));
  Abort();
}

// ---- The memory allocator ------------------------------------------------------------------
//
// Every block starts with a 16-byte header. Small blocks (with header at most kLargestSmall
// bytes) come in power-of-two sizes from 32 bytes up, from a static arena first and then from
// mapped chunks; freed ones wait on a list per size. Large blocks are mappings of their own
// (grown by mremap), except those cut from the top of an arena while it has room.

constexpr size_t kHeader = 16;
constexpr size_t kSmallestShift = 5;
constexpr size_t kLargestShift = 15;
constexpr size_t kLargestSmall = size_t{1} << kLargestShift;
constexpr size_t kLarge = ~size_t{0};
constexpr size_t kCarved = ~size_t{0} - 1;
constexpr size_t kPage = 4096;
constexpr size_t kChunk = 256 * 1024;

struct Header {
  size_t kind;    // size class (shift), kLarge or kCarved
  size_t length;  // block size including the header (for large: the mapping's length)
};

struct FreeBlock {
  FreeBlock* next;
};

alignas(16) char g_arena[128 * 1024];
char* g_bump = g_arena;
char* g_bump_end = g_arena + sizeof g_arena;
FreeBlock* g_free[kLargestShift + 1] = {};

size_t RoundUp(size_t value, size_t to) noexcept { return (value + to - 1) / to * to; }

void* Map(size_t length) noexcept {
  const long result = RawSyscall(SYS_mmap, 0, static_cast<long>(length), 3 /* read, write */,
                                 0x22 /* private, anonymous */, -1, 0);
  return Checked(result) == -1 ? nullptr : reinterpret_cast<void*>(result);
}

void* AllocateBlock(size_t size, bool may_carve = true) noexcept {
  if (size > (size_t{1} << 62)) {
    launcher_libc_errno = 12;  // ENOMEM
    return nullptr;
  }
  const size_t needed = size + kHeader;
  Header* header;
  if (needed > kLargestSmall) {
    // A large new block (not a grown one) that fits what is left of the current arena is cut
    // from its top end and never given back: the C++ run-time's emergency pool for exceptions,
    // allocated before main, then costs neither a mapping nor more than the page its header is
    // written to.
    const size_t carved = RoundUp(needed, 16);
    if (may_carve && static_cast<size_t>(g_bump_end - g_bump) >= carved) {
      g_bump_end -= carved;
      header = reinterpret_cast<Header*>(g_bump_end);
      *header = {kCarved, carved};
      return reinterpret_cast<char*>(header) + kHeader;
    }
    const size_t length = RoundUp(needed, kPage);
    header = static_cast<Header*>(Map(length));
    if (header == nullptr) return nullptr;
    *header = {kLarge, length};
    return reinterpret_cast<char*>(header) + kHeader;
  }
  const size_t shift =
      needed <= (size_t{1} << kSmallestShift)
          ? kSmallestShift
          : static_cast<size_t>(64 - __builtin_clzll(static_cast<unsigned long long>(needed - 1)));
  const size_t length = size_t{1} << shift;
  if (FreeBlock* block = g_free[shift]) {
    g_free[shift] = block->next;
    header = reinterpret_cast<Header*>(block);
  } else {
    if (static_cast<size_t>(g_bump_end - g_bump) < length) {
      char* chunk = static_cast<char*>(Map(kChunk));
      if (chunk == nullptr) return nullptr;
      g_bump = chunk;
      g_bump_end = chunk + kChunk;
    }
    header = reinterpret_cast<Header*>(g_bump);
    g_bump += length;
  }
  *header = {shift, length};
  return reinterpret_cast<char*>(header) + kHeader;
}

Header* HeaderOf(void* block) noexcept {
  return reinterpret_cast<Header*>(static_cast<char*>(block) - kHeader);
}

void FreeBlockAt(void* block) noexcept {
  if (block == nullptr) return;
  Header* header = HeaderOf(block);
  if (header->kind == kLarge) {
    RawSyscall(SYS_munmap, Arg(header), static_cast<long>(header->length));
    return;
  }
  if (header->kind == kCarved) return;
  auto* entry = reinterpret_cast<FreeBlock*>(header);
  entry->next = g_free[header->kind];
  g_free[header->kind] = entry;
}

void* ResizeBlock(void* block, size_t size) noexcept {
  if (block == nullptr) return AllocateBlock(size);
  Header* header = HeaderOf(block);
  if (size > (size_t{1} << 62)) {
    launcher_libc_errno = 12;  // ENOMEM
    return nullptr;
  }
  const size_t needed = size + kHeader;
  if (header->kind == kLarge) {
    // Grown or shrunk in place or moved by the kernel, without copying a byte.
    const size_t length = RoundUp(needed, kPage);
    if (length == header->length) return block;
    const long moved = RawSyscall(SYS_mremap, Arg(header), static_cast<long>(header->length),
                                  static_cast<long>(length), 1 /* MREMAP_MAYMOVE */);
    if (Checked(moved) == -1) return nullptr;
    header = reinterpret_cast<Header*>(moved);
    header->length = length;
    return reinterpret_cast<char*>(header) + kHeader;
  }
  if (needed <= header->length) return block;
  // A block that grows is likely to grow again: past the small sizes it becomes a mapping.
  void* grown = AllocateBlock(size, false);
  if (grown == nullptr) return nullptr;
  CopyForward(grown, block, header->length - kHeader);
  FreeBlockAt(block);
  return grown;
}

// ---- Formatting (sprintf and snprintf) -----------------------------------------------------

struct Output {
  char* at;
  size_t room;  // bytes that may still be stored, the terminating zero included
  size_t total;

  void Put(char c) noexcept {
    if (room > 1) {
      *at++ = c;
      --room;
    }
    ++total;
  }
  void Repeat(char c, int count) noexcept {
    for (int i = 0; i < count; ++i) Put(c);
  }
};

// printf's conversions d i u o x X c s p and %, with the flags - 0 + blank #, a width and a
// precision (numbers or *), and the length modifiers hh h l ll z j t.
int Format(char* buffer, size_t size, const char* format, va_list args) noexcept {
  Output out{buffer, size, 0};
  for (const char* f = format; *f != '\0'; ++f) {
    if (*f != '%') {
      out.Put(*f);
      continue;
    }
    bool left = false, zero = false, plus = false, space = false, alternate = false;
    for (;; ++f) {
      const char c = f[1];
      if (c == '-')
        left = true;
      else if (c == '0')
        zero = true;
      else if (c == '+')
        plus = true;
      else if (c == ' ')
        space = true;
      else if (c == '#')
        alternate = true;
      else
        break;
    }
    ++f;
    int width = 0;
    if (*f == '*') {
      width = va_arg(args, int);
      if (width < 0) {
        left = true;
        width = -width;
      }
      ++f;
    } else {
      while (*f >= '0' && *f <= '9') width = width * 10 + (*f++ - '0');
    }
    int precision = -1;
    if (*f == '.') {
      ++f;
      precision = 0;
      if (*f == '*') {
        precision = va_arg(args, int);
        ++f;
      } else {
        while (*f >= '0' && *f <= '9') precision = precision * 10 + (*f++ - '0');
      }
    }
    int length = 0;  // 0 int, 1 long, 2 long long / size_t / intmax_t / ptrdiff_t
    while (*f == 'h' || *f == 'l' || *f == 'z' || *f == 'j' || *f == 't') {
      if (*f == 'l') ++length;
      if (*f == 'z' || *f == 'j' || *f == 't') length = 2;
      ++f;
    }
    const char conversion = *f;
    if (conversion == '\0') break;
    if (conversion == '%') {
      out.Put('%');
      continue;
    }
    if (conversion == 'c') {
      const char c = static_cast<char>(va_arg(args, int));
      if (!left) out.Repeat(' ', width - 1);
      out.Put(c);
      if (left) out.Repeat(' ', width - 1);
      continue;
    }
    if (conversion == 's') {
      const char* text = va_arg(args, const char*);
      if (text == nullptr) text = "(null)";
      int n = 0;
      while (text[n] != '\0' && (precision < 0 || n < precision)) ++n;
      if (!left) out.Repeat(' ', width - n);
      for (int i = 0; i < n; ++i) out.Put(text[i]);
      if (left) out.Repeat(' ', width - n);
      continue;
    }
    unsigned long long value;
    bool negative = false;
    unsigned base = 10;
    bool upper = false;
    const char* prefix = "";
    if (conversion == 'd' || conversion == 'i') {
      long long signed_value = length == 0   ? va_arg(args, int)
                               : length == 1 ? va_arg(args, long)
                                             : va_arg(args, long long);
      negative = signed_value < 0;
      value = negative ? 0ULL - static_cast<unsigned long long>(signed_value)
                       : static_cast<unsigned long long>(signed_value);
      prefix = negative ? "-" : plus ? "+" : space ? " " : "";
    } else if (conversion == 'p') {
      value = reinterpret_cast<uintptr_t>(va_arg(args, void*));
      base = 16;
      prefix = "0x";
    } else if (conversion == 'u' || conversion == 'x' || conversion == 'X' || conversion == 'o') {
      value = length == 0   ? va_arg(args, unsigned)
              : length == 1 ? va_arg(args, unsigned long)
                            : va_arg(args, unsigned long long);
      base = conversion == 'o' ? 8 : conversion == 'u' ? 10 : 16;
      upper = conversion == 'X';
      if (alternate && value != 0 && base == 16) prefix = upper ? "0X" : "0x";
      if (alternate && base == 8) prefix = "0";
    } else {
      continue;  // not a conversion this library knows: dropped
    }
    char digits[24];
    int count = 0;
    for (unsigned long long v = value; v != 0; v /= base) {
      const unsigned digit = static_cast<unsigned>(v % base);
      digits[count++] =
          static_cast<char>(digit < 10 ? '0' + digit : (upper ? 'A' : 'a') + digit - 10);
    }
    const int prefix_length = static_cast<int>(Length(prefix));
    if (base == 8 && prefix_length > 0 && count > 0) prefix = "";  // the 0 is a digit already
    int zeros = precision > count ? precision - count : 0;
    if (precision < 0 && count == 0) zeros = 1;  // 0 is printed as "0" unless the precision is 0
    const int body = static_cast<int>(Length(prefix)) + zeros + count;
    if (zero && !left && precision < 0 && width > body) zeros += width - body;
    const int padding = width - static_cast<int>(Length(prefix)) - zeros - count;
    if (!left) out.Repeat(' ', padding);
    for (const char* p = prefix; *p != '\0'; ++p) out.Put(*p);
    out.Repeat('0', zeros);
    while (count > 0) out.Put(digits[--count]);
    if (left) out.Repeat(' ', padding);
  }
  if (out.room > 0) *out.at = '\0';
  return static_cast<int>(out.total);
}

// ---- Start-up ------------------------------------------------------------------------------

alignas(64) char g_tls_area[512];

__attribute__((no_stack_protector)) const Elf64_Phdr* ProgramHeaders() noexcept {
  return reinterpret_cast<const Elf64_Phdr*>(reinterpret_cast<const char*>(&__ehdr_start) +
                                             __ehdr_start.e_phoff);
}

// The load bias: where the executable is, minus where it was linked to be.
__attribute__((no_stack_protector)) uintptr_t LoadBias() noexcept {
  const Elf64_Phdr* headers = ProgramHeaders();
  for (unsigned i = 0; i < __ehdr_start.e_phnum; ++i) {
    if (headers[i].p_type == PT_LOAD && headers[i].p_offset == 0) {
      return reinterpret_cast<uintptr_t>(&__ehdr_start) - headers[i].p_vaddr;
    }
  }
  return reinterpret_cast<uintptr_t>(&__ehdr_start);
}

// Applies the executable's own relocations. Runs before anything reads a stored address.
__attribute__((no_stack_protector)) void Relocate(uintptr_t bias) noexcept {
  // The dynamic section, from the program headers (an executable that is not PIE has none).
  const Elf64_Dyn* dynamic = nullptr;
  const Elf64_Phdr* headers = ProgramHeaders();
  for (unsigned i = 0; i < __ehdr_start.e_phnum; ++i) {
    if (headers[i].p_type == PT_DYNAMIC) {
      dynamic = reinterpret_cast<const Elf64_Dyn*>(bias + headers[i].p_vaddr);
    }
  }
  uintptr_t rela = 0, rela_size = 0, plt = 0, plt_size = 0, relr = 0, relr_size = 0;
  for (const Elf64_Dyn* entry = dynamic; entry != nullptr && entry->d_tag != DT_NULL; ++entry) {
    switch (entry->d_tag) {
      case DT_RELA:
        rela = bias + entry->d_un.d_ptr;
        break;
      case DT_RELASZ:
        rela_size = entry->d_un.d_val;
        break;
      case DT_JMPREL:
        plt = bias + entry->d_un.d_ptr;
        break;
      case DT_PLTRELSZ:
        plt_size = entry->d_un.d_val;
        break;
      case DT_RELR:
        relr = bias + entry->d_un.d_ptr;
        break;
      case DT_RELRSZ:
        relr_size = entry->d_un.d_val;
        break;
      default:
        break;
    }
  }
  for (const auto& [table, size] : {std::pair{rela, rela_size}, std::pair{plt, plt_size}}) {
    const auto* relocation = reinterpret_cast<const Elf64_Rela*>(table);
    for (size_t i = 0; i < size / sizeof(Elf64_Rela); ++i) {
      auto* where = reinterpret_cast<uintptr_t*>(bias + relocation[i].r_offset);
      switch (ELF64_R_TYPE(relocation[i].r_info)) {
        case R_X86_64_RELATIVE:
          *where = bias + static_cast<uintptr_t>(relocation[i].r_addend);
          break;
        case R_X86_64_NONE:
          break;
        default:
          ExitGroup(127);  // nothing else occurs in this executable (no symbols, no ifuncs)
      }
    }
  }
  // Packed relative relocations (DT_RELR): an address, then bitmaps of the 63 words after it.
  const auto* packed = reinterpret_cast<const uintptr_t*>(relr);
  uintptr_t* where = nullptr;
  for (size_t i = 0; i < relr_size / sizeof(uintptr_t); ++i) {
    const uintptr_t entry = packed[i];
    if ((entry & 1) == 0) {
      where = reinterpret_cast<uintptr_t*>(bias + entry);
      *where++ += bias;
    } else {
      for (uintptr_t bits = entry >> 1; bits != 0; bits &= bits - 1) {
        where[__builtin_ctzll(bits)] += bias;
      }
      where += 63;
    }
  }
}

// Thread-local storage of the only thread: the TLS block right below the thread pointer, the
// thread control block from there (its first word and the one at 16 point to itself; the
// stack protector's canary lies at 0x28 and the pointer guard at 0x30).
__attribute__((no_stack_protector)) void SetUpThread(uintptr_t bias, const unsigned char* random) {
  const Elf64_Phdr* headers = ProgramHeaders();
  const Elf64_Phdr* tls = nullptr;
  for (unsigned i = 0; i < __ehdr_start.e_phnum; ++i) {
    if (headers[i].p_type == PT_TLS) tls = &headers[i];
  }
  constexpr size_t kControlBlock = 256;
  const size_t align = tls != nullptr && tls->p_align > 64 ? tls->p_align : 64;
  const size_t block = tls != nullptr ? RoundUp(tls->p_memsz, align) : 0;
  char* area = g_tls_area;
  if (block + kControlBlock + align > sizeof g_tls_area) {
    area = static_cast<char*>(Map(RoundUp(block + kControlBlock + align, kPage)));
    if (area == nullptr) ExitGroup(127);
  }
  const uintptr_t pointer = RoundUp(reinterpret_cast<uintptr_t>(area) + block, align);
  if (tls != nullptr) {
    CopyForward(reinterpret_cast<void*>(pointer - block),
                reinterpret_cast<const void*>(bias + tls->p_vaddr), tls->p_filesz);
  }
  auto* control = reinterpret_cast<uintptr_t*>(pointer);
  control[0] = pointer;
  control[2] = pointer;
  uintptr_t canary = 0;
  uintptr_t guard = 0;
  if (random != nullptr) {
    CopyForward(&canary, random, sizeof canary);
    CopyForward(&guard, random + sizeof canary, sizeof guard);
  }
  control[5] = canary & ~uintptr_t{0xFF};  // a zero low byte stops string overruns from leaking it
  control[6] = guard;
  if (RawSyscall(SYS_arch_prctl, 0x1002 /* ARCH_SET_FS */, static_cast<long>(pointer)) != 0) {
    ExitGroup(127);
  }
}

__attribute__((no_stack_protector)) void ProtectRelro(uintptr_t bias) noexcept {
  const Elf64_Phdr* headers = ProgramHeaders();
  for (unsigned i = 0; i < __ehdr_start.e_phnum; ++i) {
    if (headers[i].p_type != PT_GNU_RELRO) continue;
    const uintptr_t start = (bias + headers[i].p_vaddr) & ~(kPage - 1);
    const uintptr_t end = (bias + headers[i].p_vaddr + headers[i].p_memsz) & ~(kPage - 1);
    if (end > start) {
      RawSyscall(SYS_mprotect, static_cast<long>(start), static_cast<long>(end - start),
                 1 /* read */);
    }
  }
}

void Abort() noexcept {
  std::uint64_t mask = std::uint64_t{1} << (kSigAbrt - 1);
  RawSyscall(SYS_rt_sigprocmask, 1 /* SIG_UNBLOCK */, Arg(&mask), 0, 8);
  const long pid = RawSyscall(SYS_getpid);
  RawSyscall(SYS_kill, pid, kSigAbrt);
  // Still here: SIGABRT is caught or ignored. Take its default action, then give up.
  struct {
    long handler = 0, flags = 0, restorer = 0;
    std::uint64_t mask = 0;
  } action;
  RawSyscall(SYS_rt_sigaction, kSigAbrt, Arg(&action), 0, 8);
  RawSyscall(SYS_kill, pid, kSigAbrt);
  ExitGroup(127);
}

}  // namespace

// ---- The C interface -----------------------------------------------------------------------

// The layouts the C library's headers give these types on x86-64 Linux.
// (stat and sigaction take void pointers here: a type of the same name would be hidden by the
// function.)
struct pollfd;
struct rusage;
struct link_map;
struct dl_find_object {
  unsigned long long dlfo_flags;
  void* dlfo_map_start;
  void* dlfo_map_end;
  link_map* dlfo_link_map;
  void* dlfo_eh_frame;
  unsigned long long dlfo_reserved[7];
};
struct LibcSigaction {
  void* handler;
  std::uint64_t mask[16];
  int flags;
  void (*restorer)();
};
struct LibcFile {
  int fd;
};

extern "C" {

__attribute__((noreturn, no_stack_protector, used)) void launcher_libc_start(long* stack) {
  const int argc = static_cast<int>(stack[0]);
  char** argv = reinterpret_cast<char**>(stack + 1);
  char** envp = argv + argc + 1;
  char** end_of_env = envp;
  while (*end_of_env != nullptr) ++end_of_env;
  const unsigned char* random = nullptr;
  for (const auto* aux = reinterpret_cast<const Elf64_auxv_t*>(end_of_env + 1);
       aux->a_type != AT_NULL; ++aux) {
    if (aux->a_type == AT_RANDOM) random = reinterpret_cast<const unsigned char*>(aux->a_un.a_val);
  }

  const uintptr_t bias = LoadBias();
  Relocate(bias);
  ProtectRelro(bias);
  SetUpThread(bias, random);
  environ = envp;
  __libc_stack_end = stack;

  for (InitFunction* f = __preinit_array_start; f < __preinit_array_end; ++f)
    (*f)(argc, argv, envp);
  for (InitFunction* f = __init_array_start; f < __init_array_end; ++f) (*f)(argc, argv, envp);
  ExitGroup(launcher_libc_main(argc, argv, envp));
}

int* __errno_location() noexcept { return &launcher_libc_errno; }

// -- Memory

void* malloc(size_t size) noexcept { return AllocateBlock(size); }

void* calloc(size_t count, size_t size) noexcept {
  if (size != 0 && count > ~size_t{0} / size) {
    launcher_libc_errno = 12;  // ENOMEM
    return nullptr;
  }
  auto* block = static_cast<unsigned char*>(AllocateBlock(count * size));
  if (block != nullptr) {
    for (size_t i = 0; i < count * size; ++i) block[i] = 0;
  }
  return block;
}

void* realloc(void* block, size_t size) noexcept { return ResizeBlock(block, size); }

void free(void* block) noexcept { FreeBlockAt(block); }

void* memcpy(void* to, const void* from, size_t n) noexcept {
  CopyForward(to, from, n);
  return to;
}

void* memmove(void* to, const void* from, size_t n) noexcept {
  auto* t = static_cast<unsigned char*>(to);
  const auto* f = static_cast<const unsigned char*>(from);
  if (t <= f || t >= f + n) {
    CopyForward(t, f, n);
  } else {
    while (n > 0) {
      --n;
      t[n] = f[n];
    }
  }
  return to;
}

void* memset(void* to, int value, size_t n) noexcept {
  void* at = to;
  __asm__ volatile("rep stosb" : "+D"(at), "+c"(n) : "a"(value) : "memory");
  return to;
}

int memcmp(const void* a, const void* b, size_t n) noexcept {
  const auto* x = static_cast<const unsigned char*>(a);
  const auto* y = static_cast<const unsigned char*>(b);
  for (size_t i = 0; i < n; ++i) {
    if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
  }
  return 0;
}

void* memchr(const void* block, int value, size_t n) noexcept {
  const auto* p = static_cast<const unsigned char*>(block);
  for (size_t i = 0; i < n; ++i) {
    if (p[i] == static_cast<unsigned char>(value)) return const_cast<unsigned char*>(p + i);
  }
  return nullptr;
}

size_t strlen(const char* text) noexcept { return Length(text); }

int strcmp(const char* a, const char* b) noexcept {
  const auto* x = reinterpret_cast<const unsigned char*>(a);
  const auto* y = reinterpret_cast<const unsigned char*>(b);
  while (*x != 0 && *x == *y) {
    ++x;
    ++y;
  }
  return *x < *y ? -1 : *x > *y ? 1 : 0;
}

int strncmp(const char* a, const char* b, size_t n) noexcept {
  const auto* x = reinterpret_cast<const unsigned char*>(a);
  const auto* y = reinterpret_cast<const unsigned char*>(b);
  for (size_t i = 0; i < n; ++i) {
    if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
    if (x[i] == 0) return 0;
  }
  return 0;
}

char* strchr(const char* text, int value) noexcept {
  for (;; ++text) {
    if (*text == static_cast<char>(value)) return const_cast<char*>(text);
    if (*text == '\0') return nullptr;
  }
}

char* strerror(int error) noexcept {
  static char text[64];
  return const_cast<char*>(launcher::SystemErrorText(error, text));
}

// -- Formatting and the error stream (the C++ run-time's last-resort messages)

int vsnprintf(char* buffer, size_t size, const char* format, va_list args) noexcept {
  return Format(buffer, size, format, args);
}

int snprintf(char* buffer, size_t size, const char* format, ...) noexcept {
  va_list args;
  va_start(args, format);
  const int n = Format(buffer, size, format, args);
  va_end(args);
  return n;
}

int sprintf(char* buffer, const char* format, ...) noexcept {
  va_list args;
  va_start(args, format);
  const int n = Format(buffer, ~size_t{0} >> 1, format, args);
  va_end(args);
  return n;
}

LibcFile g_stdout_file{1};
LibcFile g_stderr_file{2};
LibcFile* stdout = &g_stdout_file;
LibcFile* stderr = &g_stderr_file;

int fputs(const char* text, LibcFile* file) {
  WriteAll(file->fd, text, Length(text));
  return 1;
}

int fputc(int c, LibcFile* file) {
  const char byte = static_cast<char>(c);
  WriteAll(file->fd, &byte, 1);
  return static_cast<unsigned char>(byte);
}

size_t fwrite(const void* data, size_t size, size_t count, LibcFile* file) {
  WriteAll(file->fd, static_cast<const char*>(data), size * count);
  return count;
}

// -- Ending the process

[[noreturn]] void _exit(int status) { ExitGroup(status); }

[[noreturn]] void abort() noexcept { Abort(); }

[[noreturn]] void __stack_chk_fail() {
  FatalMessage("*** stack smashing detected ***: terminated\n");
}

[[noreturn]] void __chk_fail() { FatalMessage("*** buffer overflow detected ***: terminated\n"); }

int __snprintf_chk(char* buffer, size_t size, int, size_t object_size, const char* format,
                   ...) noexcept {
  if (object_size < size) __chk_fail();
  va_list args;
  va_start(args, format);
  const int n = Format(buffer, size, format, args);
  va_end(args);
  return n;
}

// Static destructors are never run: the launcher ends with exit_group (see Shutdown).
int __cxa_atexit(void (*)(void*), void*, void*) noexcept { return 0; }

// One thread: the unwinder's locks have nothing to exclude.
int pthread_mutex_lock(void*) noexcept { return 0; }
int pthread_mutex_unlock(void*) noexcept { return 0; }

// -- Exception support: where the unwind tables of a code address are

// The unwinder asks once per frame; the answer is found once (start-up has relocated by then).
int _dl_find_object(void* address, dl_find_object* result) noexcept {
  static void* eh_frame_header = nullptr;
  const auto start = reinterpret_cast<uintptr_t>(&__ehdr_start);
  const auto end = reinterpret_cast<uintptr_t>(_end);
  const auto at = reinterpret_cast<uintptr_t>(address);
  if (at < start || at >= end) return -1;
  if (eh_frame_header == nullptr) {
    const uintptr_t bias = LoadBias();
    const Elf64_Phdr* headers = ProgramHeaders();
    for (unsigned i = 0; i < __ehdr_start.e_phnum; ++i) {
      if (headers[i].p_type == PT_GNU_EH_FRAME) {
        eh_frame_header = reinterpret_cast<void*>(bias + headers[i].p_vaddr);
      }
    }
  }
  *result = {};
  result->dlfo_map_start = reinterpret_cast<void*>(start);
  result->dlfo_map_end = reinterpret_cast<void*>(end);
  result->dlfo_eh_frame = eh_frame_header;
  return 0;
}

// -- System calls

int open(const char* path, int flags, ...) {
  int mode = 0;
  if ((flags & 0100) != 0 || (flags & 020200000) == 020200000) {  // O_CREAT, O_TMPFILE
    va_list args;
    va_start(args, flags);
    mode = va_arg(args, int);
    va_end(args);
  }
  return static_cast<int>(Checked(RawSyscall(SYS_openat, kAtFdCwd, Arg(path), flags, mode)));
}

long read(int fd, void* buffer, size_t size) {
  return Checked(RawSyscall(SYS_read, fd, Arg(buffer), static_cast<long>(size)));
}

long write(int fd, const void* buffer, size_t size) {
  return Checked(RawSyscall(SYS_write, fd, Arg(buffer), static_cast<long>(size)));
}

int close(int fd) { return static_cast<int>(Checked(RawSyscall(SYS_close, fd))); }

long readlink(const char* path, char* buffer, size_t size) noexcept {
  return Checked(RawSyscall(SYS_readlink, Arg(path), Arg(buffer), static_cast<long>(size)));
}

int access(const char* path, int mode) noexcept {
  return static_cast<int>(Checked(RawSyscall(SYS_access, Arg(path), mode)));
}

int stat(const char* path, void* status) noexcept {
  return static_cast<int>(Checked(RawSyscall(SYS_newfstatat, kAtFdCwd, Arg(path), Arg(status), 0)));
}

int chdir(const char* path) noexcept {
  return static_cast<int>(Checked(RawSyscall(SYS_chdir, Arg(path))));
}

int ioctl(int fd, unsigned long request, ...) noexcept {
  va_list args;
  va_start(args, request);
  void* argument = va_arg(args, void*);
  va_end(args);
  return static_cast<int>(
      Checked(RawSyscall(SYS_ioctl, fd, static_cast<long>(request), Arg(argument))));
}

int poll(pollfd* descriptors, unsigned long count, int timeout) {
  return static_cast<int>(
      Checked(RawSyscall(SYS_poll, Arg(descriptors), static_cast<long>(count), timeout)));
}

int execve(const char* path, char* const* argv, char* const* envp) noexcept {
  return static_cast<int>(Checked(RawSyscall(SYS_execve, Arg(path), Arg(argv), Arg(envp))));
}

int wait4(int pid, int* status, int options, rusage* usage) noexcept {
  return static_cast<int>(Checked(RawSyscall(SYS_wait4, pid, Arg(status), options, Arg(usage))));
}

int sigaction(int signal, const void* action, void* previous) noexcept {
  struct KernelAction {
    void* handler;
    unsigned long flags;
    void (*restorer)();
    std::uint64_t mask;
  } kernel_action{}, kernel_previous{};
  const auto* in = reinterpret_cast<const LibcSigaction*>(action);
  if (in != nullptr) {
    kernel_action.handler = in->handler;
    kernel_action.flags = static_cast<unsigned>(in->flags) | kSaRestorer;
    kernel_action.restorer = launcher_libc_restore_rt;
    kernel_action.mask = in->mask[0];
  }
  const long result =
      Checked(RawSyscall(SYS_rt_sigaction, signal, in != nullptr ? Arg(&kernel_action) : 0,
                         previous != nullptr ? Arg(&kernel_previous) : 0, 8));
  if (result == 0 && previous != nullptr) {
    auto* out = reinterpret_cast<LibcSigaction*>(previous);
    *out = {};
    out->handler = kernel_previous.handler;
    out->flags = static_cast<int>(kernel_previous.flags);
    out->restorer = kernel_previous.restorer;
    out->mask[0] = kernel_previous.mask;
  }
  return static_cast<int>(result);
}

int sigemptyset(void* set) noexcept {
  auto* words = static_cast<std::uint64_t*>(set);
  for (int i = 0; i < 16; ++i) words[i] = 0;
  return 0;
}

int sigdelset(void* set, int signal) noexcept {
  if (signal <= 0 || signal > 64) {
    launcher_libc_errno = 22;  // EINVAL
    return -1;
  }
  static_cast<std::uint64_t*>(set)[0] &= ~(std::uint64_t{1} << (signal - 1));
  return 0;
}

}  // extern "C"

// The demangler of the C++ run-time, for the failure report's "Exception object NAME is not of
// class Exception." line: every name counts as not demanglable (status -2), so the report gives
// the name as the compiler wrote it. No such error can arise in the launcher: its allocation
// failures raise EOutOfMemory and the containers' misuse ends below; the full demangler's tables
// would cost every start 220 relocations and a page written.
namespace __cxxabiv1 {
extern "C" char* __cxa_demangle(const char*, char*, size_t*, int* status) noexcept {
  if (status != nullptr) *status = -2;
  return nullptr;
}
}  // namespace __cxxabiv1

// The C++ library's reports of misuse of its containers (a length beyond max_size, a position
// past the end). The launcher never commits either; without the rest of that library they end
// the process as an error that nothing catches.
namespace std {
[[noreturn]] void __throw_length_error(const char*) { std::terminate(); }
[[noreturn]] void __throw_out_of_range_fmt(const char*, ...) { std::terminate(); }
}  // namespace std
