// One channel's ring of raw measured values. When full, a new value overwrites the oldest, so the receive
// thread never waits for the application. Not thread-safe: the device's buffer mutex guards it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace pekolm {

class ValueRing {
 public:
  ValueRing() = default;
  // False when the memory cannot be had. Raw values are 16 bits, so they are stored as such.
  bool allocate(std::uint32_t capacity);

  void push(std::uint16_t raw) {
    if (count_ < capacity_) {
      ++count_;
    } else {
      read_index_ = next(read_index_);
    }
    values_[write_index_] = raw;
    write_index_ = next(write_index_);
  }

  // Oldest value; the ring must not be empty.
  std::uint16_t pop() {
    std::uint16_t raw = values_[read_index_];
    read_index_ = next(read_index_);
    --count_;
    return raw;
  }

  // Moves the `n` oldest values to `out`; the ring must hold at least that many.
  void take(std::uint16_t* out, std::uint32_t n);

  void clear() { count_ = write_index_ = read_index_ = 0; }
  std::uint32_t count() const { return count_; }
  std::uint32_t capacity() const { return capacity_; }

 private:
  std::uint32_t next(std::uint32_t index) const { return index + 1 == capacity_ ? 0 : index + 1; }

  std::unique_ptr<std::uint16_t[]> values_;
  std::uint32_t capacity_ = 0;
  std::uint32_t write_index_ = 0;  // where the next value goes
  std::uint32_t read_index_ = 0;   // the oldest unread value
  std::uint32_t count_ = 0;        // unread values, 0..capacity
};

// Normalised value of a raw one: 32768 is zero, full scale is about +-1.05.
inline double normalise(std::uint16_t raw) { return (static_cast<double>(raw) - 32768.0) * (1.05 / 32767.5); }

}  // namespace pekolm
