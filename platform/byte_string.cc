#include "platform/byte_string.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/errors.h"

namespace launcher {

ByteString::ByteString(const char* text) : ByteString(text, std::strlen(text)) {}

ByteString::ByteString(const char* data, std::size_t size) { Append(data, size); }

ByteString::ByteString(const ByteString& other) { Append(other.data_, other.size_); }

ByteString::ByteString(ByteString&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

ByteString& ByteString::operator=(const ByteString& other) {
  if (this != &other) {
    size_ = 0;
    Append(other.data_, other.size_);
  }
  return *this;
}

ByteString& ByteString::operator=(ByteString&& other) noexcept {
  if (this != &other) {
    std::free(data_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
  }
  return *this;
}

ByteString::~ByteString() { std::free(data_); }

ByteString& ByteString::Append(const char* data, std::size_t size) {
  if (size == 0) return *this;
  if (size > capacity_ - size_) {
    if (size > static_cast<std::size_t>(-2) - size_) RunError(kRunErrorOutOfMemory);
    const bool own_bytes = data_ != nullptr && data >= data_ && data < data_ + size_;
    const std::size_t offset = own_bytes ? static_cast<std::size_t>(data - data_) : 0;
    Reserve(size_ + size);
    if (own_bytes) data = data_ + offset;
  }
  std::memmove(data_ + size_, data, size);
  size_ += size;
  data_[size_] = '\0';
  return *this;
}

void ByteString::Reserve(std::size_t capacity) {
  constexpr std::size_t kMinimum = 31;
  std::size_t grown = capacity_ < static_cast<std::size_t>(-2) / 2 ? capacity_ * 2 : capacity;
  if (grown < capacity) grown = capacity;
  if (grown < kMinimum) grown = kMinimum;
  void* block = std::realloc(data_, grown + 1);
  if (block == nullptr) {
    block = std::realloc(data_, capacity + 1);  // no room to double: take just what is needed
    if (block == nullptr) RunError(kRunErrorOutOfMemory);
    grown = capacity;
  }
  data_ = static_cast<char*>(block);
  capacity_ = grown;
}

}  // namespace launcher
