// Return addresses read from frame records, as plain code addresses.
#pragma once

namespace launcher {

// On arm64 with pointer authentication (-mbranch-protection), a function signs its return
// address before it saves it in its frame record, and the signature occupies the address's upper
// bits. XPACLRI removes it; on a processor without pointer authentication it is a no-op (it lies
// in the hint space). Elsewhere an address is returned as it is.
inline const void* StripReturnAddress(const void* address) noexcept {
#if defined(__aarch64__)
  register const void* link __asm__("x30") = address;
  __asm__("hint 7" : "+r"(link));  // xpaclri
  return link;
#else
  return address;
#endif
}

}  // namespace launcher
