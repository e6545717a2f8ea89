// Creating the recording file, the one file the console writes.
#pragma once

#include <cstdio>

namespace kolmconsole {

// Creates the file in the current directory, or truncates the one there, for writing as text (mode
// "w"); null with errno set when it cannot. On POSIX systems a symbolic link under the name is refused
// (ELOOP) rather than followed, since the recording would overwrite whatever it points at.
std::FILE* create_text_file(const char* name);

}  // namespace kolmconsole
