// The commands that compute with the norm table: calibration with a test load (k), display norm (n) and
// offset in display units (o). A channel outside 1..4 has no norm table entry: its library calls still run
// and show what the library answers, but nothing is computed with or stored into the table for it.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>

#include "commands.h"
#include "dialog.h"
#include "norm_math.h"
#include "pekolm.h"

namespace kolmconsole {

namespace {

// A stream that has sent nothing for this long has stopped (transmission off, device gone); the
// calibration then gives up instead of waiting for ever.
constexpr auto silence_limit = std::chrono::seconds(10);

// The mean of the next `wanted` values of a channel, or nothing when the values stopped coming.
std::optional<double> mean_of_next_values(int port, int channel, int wanted) {
  using Clock = std::chrono::steady_clock;
  double sum = 0.0;
  int count = 0;
  Clock::time_point last_value = Clock::now();
  while (count < wanted) {
    double value = 0.0;
    if (Kolmread(port, channel, &value) == 1) {
      sum += value;
      ++count;
      last_value = Clock::now();
      continue;
    }
    if (Clock::now() - last_value >= silence_limit) return std::nullopt;
    // Nothing there yet (or a receive error): the next value is a sample period away, so do not spin.
    pause_ms(1);
  }
  return sum / wanted;
}

void report_stream_stopped() { std::printf("Seit 10 s kein Messwert: Kalibrierung abgebrochen.\n"); }

}  // namespace

void command_calibration(Console& console) {
  line_prompt("Entlasten, dann Kanal (1..4) eingeben:");
  const int channel = ask_int(console);
  KolmsetZero(console.port, channel);
  KolmclearDLLbuffer(console.port);
  const std::optional<double> zero_mean = mean_of_next_values(console.port, channel, 10);
  if (!zero_mean) return report_stream_stopped();

  std::printf("Prueflast von %i g auflegen, Taste druecken...\n", static_cast<int>(calibration_load));
  ask_char(console);
  KolmclearDLLbuffer(console.port);
  const std::optional<double> load_mean = mean_of_next_values(console.port, channel, 20);
  if (!load_mean) return report_stream_stopped();

  // Only a channel with a norm gets this far: the library refuses to read any other, so its loops give up.
  double* norm = norm_entry(console, channel);
  if (norm == nullptr) return report_stream_stopped();
  const std::optional<double> new_norm = calibration_norm(*zero_mean, *load_mean);
  if (!new_norm) {
    std::printf("Mit und ohne Prueflast gleiche Werte: keine neue Normierung.\n");
    return;
  }
  std::printf("Neue Normierung: %g. Diesen Wert setzen? (j / n): \n", *new_norm);
  if (ask_char(console) != 'j') return;
  line_end();
  report("KolmDispSetNorm: ", KolmDispSetNorm(console.port, channel, *new_norm));
  *norm = KolmDispGetNorm(console.port, channel);
  report(" KolmDispGetNorm: ", *norm);
}

void command_norm(Console& console) {
  line_prompt(" Kanal (1..4): ");
  const int channel = ask_int(console);
  report("KolmDispGetNorm: ", KolmDispGetNorm(console.port, channel));
  if (!confirm(console, "Norm aendern? (j / n): ")) return;
  line_end();
  inline_prompt("Neue Norm: ");
  const double value = ask_double(console);
  line_end();
  report("KolmDispSetNorm: ", KolmDispSetNorm(console.port, channel, value));
  // Read back whatever the set returned: the table follows the amplifier.
  const double in_force = KolmDispGetNorm(console.port, channel);
  if (double* norm = norm_entry(console, channel)) *norm = in_force;
  report(" KolmDispGetNorm: ", in_force);
}

void command_offset(Console& console) {
  line_prompt(" Kanal (1..4): ");
  const int channel = ask_int(console);
  const int gain = KolmgetGain(console.port, channel);
  report("KolmgetGain: ", gain);
  const int offset = KolmreadOffset(console.port, channel, gain);
  report("KolmreadOffset: ", offset);
  const double* norm = norm_entry(console, channel);
  // Without a norm there is no display unit; NaN says so rather than a made-up number.
  report("Offset normiert: ", norm != nullptr ? offset_in_display_units(offset, *norm) : std::nan(""));
  if (!confirm(console, "Offset aendern? (j / n): ")) return;
  line_end();
  inline_prompt("Neuer Offset (normiert): ");
  const double display_value = ask_double(console);
  // The library refuses the channel anyway; zero offset stands in for the value that cannot be computed.
  const int new_offset = norm != nullptr ? offset_from_display_units(display_value, *norm) : offset_zero;
  line_end();
  const int result = KolmwriteOffset(console.port, channel, gain, new_offset);
  std::printf("KolmwriteOffset(%i): %i\n", new_offset, result);
  report("KolmreadOffset: ", KolmreadOffset(console.port, channel, gain));
}

}  // namespace kolmconsole
