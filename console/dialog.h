// The building blocks every dialog is written in: prompts, confirmations, reports and typed answers.
// Output goes to standard output with stdio, exactly as formatted; every read flushes it first.
#pragma once

#include <cstddef>

#include "console.h"

namespace kolmconsole {

// Ends the current line.
void line_end();
// Prints the prompt and ends the line; the answer is typed on the next line.
void line_prompt(const char* prompt);
// Prints the prompt and leaves the cursor behind it.
void inline_prompt(const char* prompt);
// Asks with an inline prompt; only a lower-case j answers yes.
bool confirm(Console& console, const char* prompt);

// The label immediately followed by the value and a line end. Integers in decimal, floating-point values
// with six significant digits.
void report(const char* label, int value);
void report(const char* label, double value);
// The same without the line end.
void report_no_end(const char* label, int value);

// Typed answers (see input.h).
int ask_int(Console& console);
double ask_double(Console& console);
int ask_char(Console& console);
void ask_word(Console& console, char* buffer, std::size_t size);

// Prints the pause text, waits for any key and forgets the rest of the typed line.
void any_key_pause(Console& console);

}  // namespace kolmconsole
