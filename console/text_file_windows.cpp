// Creating the recording file on Windows: as the C library does. Symbolic links there take a privilege
// to make and are followed by every program alike.
#include "text_file.h"

namespace kolmconsole {

std::FILE* create_text_file(const char* name) { return std::fopen(name, "w"); }

}  // namespace kolmconsole
