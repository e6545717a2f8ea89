// The console's keyboard and clock: key test and key reads, typed lines, pauses and the bell.
//
// All input goes through one Terminal, so that bytes a person types ahead are never lost between a key
// read and a line read. On a terminal, keys are read one press at a time without Enter (non-canonical,
// no echo) and answers line by line with echo; on a pipe or file every read takes the next byte of the
// stream, which makes the console scriptable. The terminal's settings are restored when the Terminal goes
// away and on the signals that end or stop the program. A hang-up (SIGHUP, or a terminal whose reads end)
// does not end the program on the spot: it ends the input, so that the console can let go of its port
// and stop as q would.
#pragma once

#include <string>

#include "byte_source.h"

namespace kolmconsole {

class Terminal final : public ByteSource {
 public:
  // Takes over standard input; only one Terminal may exist at a time.
  Terminal();
  ~Terminal() override;
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  // A key press waits to be read; never blocks. False for good once the input has ended.
  bool key_pending();
  // No key will ever come: the terminal hung up or its input ended, or a pipe or file has ended and
  // everything in it was used.
  bool input_exhausted() const;
  // One key press, printed when echo is asked for; -1 at the end of input or on a hang-up, which also
  // end a wait for the key.
  int read_key(bool echo);
  // Forgets the rest of a typed line. On a pipe or file it keeps everything: there, what follows is the
  // script's next answer.
  void discard_pending_input();

  // Line input for the dialogs (ByteSource): flushes standard output before it waits.
  int peek() override;
  int get() override;

 private:
  bool fill();  // reads more from standard input into pending_; false at the end of input
  void enter_key_mode();
  void enter_line_mode();

  bool is_terminal_;
  bool ended_ = false;
  std::string pending_;   // typed bytes read but not used yet
  std::size_t next_ = 0;  // first unused byte of pending_
};

// Pauses the calling thread.
void pause_ms(int milliseconds);
// A tone of the given length. Windows plays it; a POSIX terminal has no tone generator: there the bell
// rings and the pause follows, so the program waits as long as with a real tone, and the frequency only
// documents what is meant.
void tone(int frequency_hz, int milliseconds);

}  // namespace kolmconsole
