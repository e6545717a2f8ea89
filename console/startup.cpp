// Start-up: asks for port and baud rate, opens the amplifier and prints what it learns about it.
#include "startup.h"

#include <cstdio>

#include "dialog.h"
#include "display_text.h"
#include "pekolm.h"

namespace kolmconsole {

namespace {

constexpr int buffer_size = 512;  // samples kept per channel while a dialog holds up the display
constexpr int activation_flags = 0;

// Activation already switches an amplifier in mode 0 to mode 1; this repeats it so that the console shows
// the mode it found and what switching answered.
void show_mode(Console& console) {
  pause_ms(500);
  const int mode = KolmgetMode(console.port);
  line_end();
  report("KolmgetMode: ", mode);
  if (mode == 0) {
    pause_ms(500);
    report("KolmsetMode: ", KolmsetMode(console.port, 1, "quiran"));
  }
}

void show_input_types(Console& console) {
  // Printed even when the read fails and writes nothing: then every type shows as 0.
  int types[4] = {0, 0, 0, 0};
  report_no_end("KolmgetAnalogueType: ", KolmgetAnalogueType(console.port, &types[0], &types[1], &types[2], &types[3]));
  for (int i = 0; i < 4; ++i) std::fputs(input_type_text(i + 1, types[i]).c_str(), stdout);
}

void show_serial_number(Console& console) {
  pause_ms(400);
  console.text[0] = '\0';  // a failed read leaves it empty
  report_no_end("KolmreadSerialNo: ", KolmreadSerialNo(console.port, console.text));
  std::printf(" No: %s\n", console.text);
}

void read_norms(Console& console) {
  for (int channel = 1; channel <= 4; ++channel) {
    pause_ms(200);
    console.norms[channel - 1] = KolmDispGetNorm(console.port, channel);
    std::printf("KolmDispGetNorm(%i): %g\n", channel, console.norms[channel - 1]);
  }
}

}  // namespace

bool start_up(Console& console) {
  line_end();
  report("DLL-Version: ", KolmdllVersion());
  line_prompt("ComNr. eingeben: ");
  console.port = ask_int(console);
  line_prompt("Baudrate eingeben: ");
  console.baud = ask_int(console);

  const int result = KolmactivateExtended(console.port, console.baud, buffer_size, activation_flags);
  report("Ergebnis: ", result);
  if (result == -1) {
    report("KolmgetLastError: ", KolmgetLastError(console.port));
    any_key_pause(console);
    return false;
  }

  show_mode(console);
  show_input_types(console);
  show_serial_number(console);
  read_norms(console);
  line_end();
  report("FW-Version: ", KolmfirmwareVersion(console.port));
  console.extremes.reset(console.norms);
  any_key_pause(console);
  KolmstartTX(console.port);
  return true;
}

}  // namespace kolmconsole
