// Dialog building blocks; see dialog.h.
#include "dialog.h"

#include <cstdio>

#include "input.h"

namespace kolmconsole {

void line_end() { std::fputs("\n", stdout); }

void line_prompt(const char* prompt) { std::printf("%s\n", prompt); }

void inline_prompt(const char* prompt) {
  std::fputs(prompt, stdout);
  std::fflush(stdout);
}

bool confirm(Console& console, const char* prompt) {
  inline_prompt(prompt);
  return ask_char(console) == 'j';
}

void report(const char* label, int value) { std::printf("%s%i\n", label, value); }
void report(const char* label, double value) { std::printf("%s%g\n", label, value); }
void report_no_end(const char* label, int value) { std::printf("%s%i", label, value); }

int ask_int(Console& console) { return read_int(console.terminal); }
double ask_double(Console& console) { return read_double(console.terminal); }
int ask_char(Console& console) { return read_char(console.terminal); }
void ask_word(Console& console, char* buffer, std::size_t size) { read_word(console.terminal, buffer, size); }

void any_key_pause(Console& console) {
  std::printf(" Beliebige Taste...\n\n");
  console.terminal.read_key(false);
  std::fflush(stdout);
  console.terminal.discard_pending_input();
}

}  // namespace kolmconsole
