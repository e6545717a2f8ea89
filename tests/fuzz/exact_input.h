// The fuzzer's input, copied to a heap block of exactly its size: the buffer libFuzzer hands over may be
// larger than the input, and a read past the input's end must land in AddressSanitizer's red zone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

class ExactInput {
 public:
  ExactInput(const std::uint8_t* data, std::size_t size) : bytes_(new std::uint8_t[size]), size_(size) {
    if (size != 0) std::memcpy(bytes_.get(), data, size);
  }
  const std::uint8_t* data() const { return bytes_.get(); }
  std::size_t size() const { return size_; }

 private:
  std::unique_ptr<std::uint8_t[]> bytes_;
  std::size_t size_;
};
