// Where typed answers come from: the terminal layer in the program, a string in the unit tests.
#pragma once

namespace kolmconsole {

// A stream of bytes with one byte of look-ahead; both calls return -1 at the end of input.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual int peek() = 0;
  virtual int get() = 0;
};

}  // namespace kolmconsole
