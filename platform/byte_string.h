// Byte strings: the launcher's text values. Settings, paths and arguments pass through them
// unchanged: they may hold any byte, NUL included, and are never trimmed or decoded.
#pragma once

#include <cstddef>
#include <string_view>

namespace launcher {

class ByteString {
 public:
  ByteString() noexcept = default;
  ByteString(const char* text);  // NOLINT(google-explicit-constructor): literals read naturally
  ByteString(const char* data, std::size_t size);
  explicit ByteString(std::string_view bytes) : ByteString(bytes.data(), bytes.size()) {}
  ByteString(const ByteString& other);
  ByteString(ByteString&& other) noexcept;
  ByteString& operator=(const ByteString& other);
  ByteString& operator=(ByteString&& other) noexcept;
  ~ByteString();

  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  const char* data() const noexcept { return size_ ? data_ : ""; }
  // Zero-terminated; a value that holds a NUL byte reads as cut there.
  const char* c_str() const noexcept { return data(); }
  char back() const noexcept { return data_[size_ - 1]; }
  std::string_view view() const noexcept { return {data(), size_}; }

  ByteString& Append(const char* data, std::size_t size);
  ByteString& Append(std::string_view bytes) { return Append(bytes.data(), bytes.size()); }
  ByteString& Append(char byte) { return Append(&byte, 1); }
  void Clear() noexcept { size_ = 0; }

  friend bool operator==(const ByteString& a, const ByteString& b) noexcept {
    return a.view() == b.view();
  }

 private:
  // Makes room for `capacity` bytes plus the terminating zero. Growth is geometric and goes
  // through realloc, which moves large blocks by remapping pages instead of copying them.
  void Reserve(std::size_t capacity);

  char* data_ = nullptr;  // capacity_ + 1 bytes when not null, zero-terminated at size_
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

inline ByteString operator+(ByteString left, std::string_view right) {
  left.Append(right);
  return left;
}

}  // namespace launcher
