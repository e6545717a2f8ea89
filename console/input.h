// Reading typed answers the way the console's dialogs expect them, over any byte source.
//
// Every reader skips leading blanks and line ends first. A number that is not there reads as 0 and the rest
// of its line is thrown away, so that a stray letter can neither loop a dialog nor leak into the next
// answer. At the end of input every reader returns 0 (or the empty word).
#pragma once

#include <cstddef>

#include "byte_source.h"

namespace kolmconsole {

// An integer with optional sign: 0x / 0X hexadecimal, another leading 0 octal, else decimal. Digits beyond
// 32 bits wrap, as a 32-bit register value typed in hexadecimal expects (0xFFFFFFFF reads as -1).
int read_int(ByteSource& in);

// A decimal floating-point number: sign, digits, fraction, exponent.
double read_double(ByteSource& in);

// One non-blank character; 0 at the end of input.
int read_char(ByteSource& in);

// One word (up to the next blank or line end) into buffer, terminated. At most size - 1 characters are
// kept; the rest of the word is consumed and dropped, so a long word can neither overrun the buffer nor
// spill into the next answer.
void read_word(ByteSource& in, char* buffer, std::size_t size);

}  // namespace kolmconsole
