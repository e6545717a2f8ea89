// Parsing of typed answers; see input.h.
#include "input.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace kolmconsole {

namespace {

bool is_blank(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool is_decimal(int c) { return c >= '0' && c <= '9'; }

int digit_value(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

void skip_blanks(ByteSource& in) {
  while (is_blank(in.peek())) in.get();
}

void discard_line(ByteSource& in) {
  for (int c = in.get(); c != -1 && c != '\n'; c = in.get()) {
  }
}

// Reads a sign if there is one; true for minus.
bool read_sign(ByteSource& in) {
  const int c = in.peek();
  if (c == '+' || c == '-') {
    in.get();
    return c == '-';
  }
  return false;
}

}  // namespace

int read_int(ByteSource& in) {
  skip_blanks(in);
  const bool negative = read_sign(in);
  int base = 10;
  bool any_digit = false;
  if (in.peek() == '0') {
    in.get();
    any_digit = true;  // "0" alone, and "0x" without hex digits, read as 0
    base = 8;
    if (in.peek() == 'x' || in.peek() == 'X') {
      in.get();
      base = 16;
    }
  }
  // Saturating, so that a very long number cannot overflow; the low 32 bits are what counts.
  std::uint64_t magnitude = 0;
  while (digit_value(in.peek()) < base) {
    const int digit = digit_value(in.get());
    any_digit = true;
    if (magnitude > (UINT64_MAX - digit) / base) {
      magnitude = UINT64_MAX;
    } else {
      magnitude = magnitude * base + digit;
    }
  }
  if (!any_digit) {
    if (in.peek() != -1) discard_line(in);
    return 0;
  }
  const std::uint32_t low = static_cast<std::uint32_t>(negative ? (0 - magnitude) : magnitude);
  return static_cast<int>(low);
}

double read_double(ByteSource& in) {
  skip_blanks(in);
  std::string text;
  if (in.peek() == '+' || in.peek() == '-') text += static_cast<char>(in.get());
  bool any_digit = false;
  while (is_decimal(in.peek())) {
    text += static_cast<char>(in.get());
    any_digit = true;
  }
  if (in.peek() == '.') {
    text += static_cast<char>(in.get());
    while (is_decimal(in.peek())) {
      text += static_cast<char>(in.get());
      any_digit = true;
    }
  }
  if (!any_digit) {
    if (in.peek() != -1) discard_line(in);
    return 0.0;
  }
  if (in.peek() == 'e' || in.peek() == 'E') {
    // An exponent without digits is dropped; strtod then ignores the bare 'e'.
    text += static_cast<char>(in.get());
    if (in.peek() == '+' || in.peek() == '-') text += static_cast<char>(in.get());
    while (is_decimal(in.peek())) text += static_cast<char>(in.get());
  }
  return std::strtod(text.c_str(), nullptr);
}

int read_char(ByteSource& in) {
  skip_blanks(in);
  const int c = in.get();
  return c == -1 ? 0 : c;
}

void read_word(ByteSource& in, char* buffer, std::size_t size) {
  skip_blanks(in);
  std::size_t length = 0;
  while (in.peek() != -1 && !is_blank(in.peek())) {
    const int c = in.get();
    if (length + 1 < size) buffer[length++] = static_cast<char>(c);
  }
  if (size > 0) buffer[length] = '\0';
}

}  // namespace kolmconsole
