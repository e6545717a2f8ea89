// The commands that pass values to and from the library and compute nothing: each shows every result as
// the library returned it, so that the console is a trace of the library's interface. No range is checked
// here; the library answers out-of-range values with -1.
#include <cstdio>

#include "commands.h"
#include "dialog.h"
#include "pekolm.h"

namespace kolmconsole {

namespace {
constexpr const char* access_code = "quiran";  // the amplifier ignores mode changes without it
}  // namespace

void command_scale(Console& console) {
  line_prompt(" Kanal (1..4): ");
  const int channel = ask_int(console);
  line_prompt(" Gain: ");
  const int gain = ask_int(console);
  report("PeKolmgetScale: ", PeKolmgetScale(console.port, channel, gain));
  if (!confirm(console, "Scale aendern? (j / n): ")) return;
  line_end();
  inline_prompt("Neue Scale (ganze Zahl): ");
  const int scale = ask_int(console);
  line_end();
  report("PeKolmsetScale: ", PeKolmsetScale(console.port, channel, gain, scale));
  // Give the amplifier time to store the scale before it is read back.
  pause_ms(500);
  report("PeKolmgetScale: ", PeKolmgetScale(console.port, channel, gain));
}

void command_digital_io(Console& console) {
  report("KolmgetDigitalIOvalue(0): ", KolmgetDigitalIOvalue(console.port, 0));
  inline_prompt("Typ aendern? (t) oder Wert aendern (w) oder n: ");
  const int answer = ask_char(console);
  if (answer != 't' && answer != 'w') return;
  line_end();
  inline_prompt("BitNo(0..8): ");
  const int bit = ask_int(console);
  line_end();
  if (answer == 't') {
    report("KolmgetDigitalIOtype: ", KolmgetDigitalIOtype(console.port, bit));
    inline_prompt("Dezimalwert: ");
    const int type = ask_int(console);
    line_end();
    report("KolmsetDigitalIOtype: ", KolmsetDigitalIOtype(console.port, bit, type));
    report(" KolmgetDigitalIOtype: ", KolmgetDigitalIOtype(console.port, bit));
  } else {
    inline_prompt("Dezimalwert: ");
    const int value = ask_int(console);
    line_end();
    report("KolmsetDigitalIOvalue: ", KolmsetDigitalIOvalue(console.port, bit, value));
    report(" KolmgetDigitalIOvalue(0): ", KolmgetDigitalIOvalue(console.port, 0));
  }
}

void command_data_rate(Console& console) {
  report("KolmreadFreq: ", KolmreadFreq(console.port));
  if (!confirm(console, "Freq aendern? (j / n): ")) return;
  line_end();
  inline_prompt("Neue Freq: ");
  const double rate = ask_double(console);
  line_end();
  report("KolmwriteFreq: ", KolmwriteFreq(console.port, rate));
  report(" KolmreadFreq: ", KolmreadFreq(console.port));
}

void command_gain(Console& console) {
  line_prompt(" Kanal (1..4): ");
  const int channel = ask_int(console);
  report("KolmgetGain: ", KolmgetGain(console.port, channel));
  if (!confirm(console, "Gain aendern? (j / n): ")) return;
  line_end();
  inline_prompt("Neue Gain: ");
  const int gain = ask_int(console);
  line_end();
  report("KolmsetGain: ", KolmsetGain(console.port, channel, gain));
  report("KolmgetGain: ", KolmgetGain(console.port, channel));
}

void command_load_set(Console& console) {
  line_prompt("Satz-No (1..3): ");
  const int set = ask_int(console);
  report("KolmgetAll: ", KolmgetAll(console.port, set));
}

void command_mode(Console& console) {
  report("KolmgetMode: ", KolmgetMode(console.port));
  if (!confirm(console, "Modus aendern? (j / n): ")) return;
  line_end();
  inline_prompt("Neuer Modus: ");
  const int mode = ask_int(console);
  line_end();
  report("KolmsetMode: ", KolmsetMode(console.port, mode, access_code));
  report("KolmgetMode: ", KolmgetMode(console.port));
}

void command_read_value(Console& console) {
  line_prompt("kanal (1..4): ");
  const int channel = ask_int(console);
  double value = 0.0;  // shown as 0 when no value was delivered
  report_no_end("Kolmread: ", Kolmread(console.port, channel, &value));
  report("Wert: ", value);
}

void command_save_set(Console& console) {
  line_prompt("Satz-No (1..3): ");
  const int set = ask_int(console);
  report("KolmsaveAll: ", KolmsaveAll(console.port, set));
}

void command_transmission_mode(Console& console) {
  std::printf("KolmgetTXmode: %i Aendern?: ", KolmgetTXmode(console.port));
  if (ask_char(console) != 'j') return;
  line_end();
  inline_prompt("Wert: ");
  const int mode = ask_int(console);
  report_no_end("KolmsetTXmode: ", KolmsetTXmode(console.port, mode));
}

void command_unit(Console& console) {
  line_prompt("kanal (1..4): ");
  const int channel = ask_int(console);
  // A failing read leaves the text as it was (the serial number, perhaps); it is terminated either way.
  report_no_end("KolmgetUnitText: ", KolmgetUnitText(console.port, channel, console.text));
  std::printf("Unittext: %s Aendern? (j) oder Text eingeben: (e): ", console.text);
  const int answer = ask_char(console);
  if (answer == 'j') {
    line_end();
    inline_prompt("Wert (num): ");
    const int unit = ask_int(console);
    report_no_end("KolmsetUnit: ", KolmsetUnit(console.port, channel, unit));
  } else if (answer == 'e') {
    inline_prompt("Text: ");
    ask_word(console, console.text, sizeof console.text);
    // Channel 0: the amplifier's free unit text, whatever channel was asked about.
    report_no_end("KolmsetUnitText: ", KolmsetUnitText(console.port, 0, console.text));
    KolmgetUnitText(console.port, 0, console.text);
    line_end();
    std::fputs(console.text, stdout);
  }
}

void command_value_query(Console& console) { report("KolmgetValue: ", KolmgetValue(console.port)); }

void command_threshold(Console& console) {
  line_prompt("Schwellwertnummer (1..8): ");
  const int number = ask_int(console);
  double on = 0.0;  // shown as 0 when the read fails and stores nothing
  double off = 0.0;
  report_no_end("KolmreadThreshold: ", KolmreadThreshold(console.port, number, &on, &off));
  std::printf("Erg On: %g Erg.Off: %g\n", on, off);
  if (!confirm(console, "Aendern? (j / n): ")) return;
  line_end();
  inline_prompt("Oberer Wert: ");
  const double upper = ask_double(console);
  line_end();
  inline_prompt("Unterer Wert: ");
  const double lower = ask_double(console);
  report_no_end("KolmwriteThreshold: ", KolmwriteThreshold(console.port, number, upper, lower));
}

void command_stop_transmission(Console& console) { report("KolmstopTX: ", KolmstopTX(console.port)); }

void command_start_transmission(Console& console) { report("KolmstartTX: ", KolmstartTX(console.port)); }

void command_zero(Console& console) {
  line_prompt("kanal (0..4): ");
  const int channel = ask_int(console);
  report("KolmsetZero: ", KolmsetZero(console.port, channel));
  report("KolmclearDLLbuffer: ", KolmclearDLLbuffer(console.port));
}

}  // namespace kolmconsole
