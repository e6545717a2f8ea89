// What the terminal layers of every system share: handing out the typed or piped bytes they have read.
#include "terminal.h"

namespace kolmconsole {

int Terminal::peek() {
  if (next_ == pending_.size() && !fill()) return -1;
  return static_cast<unsigned char>(pending_[next_]);
}

int Terminal::get() {
  const int c = peek();
  if (c != -1) ++next_;
  return c;
}

void Terminal::discard_pending_input() {
  if (!is_terminal_) return;
  pending_.clear();
  next_ = 0;
}

}  // namespace kolmconsole
