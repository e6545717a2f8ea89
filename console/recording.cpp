// The display of samples and the noise recording into "Daten.txt" (keys a and A).
#include "recording.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "commands.h"
#include "dialog.h"
#include "display_text.h"
#include "pekolm.h"
#include "text_file.h"

namespace kolmconsole {

namespace {

constexpr const char* recording_file_name = "Daten.txt";

// NOLINTBEGIN(concurrency-mt-unsafe): only this thread asks for messages
const char* reason(int error) {
  // O_NOFOLLOW's code would read as a loop of links.
  return error == ELOOP ? "Is a symbolic link" : std::strerror(error);
}
// NOLINTEND(concurrency-mt-unsafe)

// Closes the file and tells of the first error since it was opened (0: none). A full disk may show only
// here, when stdio hands over what it has kept back.
void close_recording_file(Recording& recording, int error) {
  if (std::fclose(recording.file) != 0 && error == 0) error = errno;
  recording.file = nullptr;
  if (error != 0) std::printf("\n%s kann nicht geschrieben werden (%s).\n", recording_file_name, reason(error));
}

void finish_timed_recording(Console& console) {
  Recording& recording = console.recording;
  recording.running = false;
  int error = 0;
  for (int i = 0; i < 4; ++i) {
    if (std::fprintf(recording.file, "K%i: PPnoise=%.5lf\n", i + 1,
                     noise_figure(console.norms[i], console.extremes.max[i], console.extremes.min[i])) < 0 &&
        error == 0) {
      error = errno;
    }
  }
  close_recording_file(recording, error);
}

// Waits for the next calendar second and empties the value buffers then, so that a recording of n seconds
// covers n whole seconds of fresh samples. Returns that second.
std::time_t start_on_second_boundary(int port) {
  const std::time_t t0 = std::time(nullptr);
  std::time_t t1 = t0;
  while ((t1 = std::time(nullptr)) == t0) pause_ms(1);
  KolmclearDLLbuffer(port);
  return t1;
}

void start_recording(Console& console) {
  Recording& recording = console.recording;
  recording.file = create_text_file(recording_file_name);
  if (recording.file == nullptr) {
    std::printf("\n%s kann nicht angelegt werden (%s), keine Aufzeichnung.\n", recording_file_name, reason(errno));
    return;
  }
  // The extremes were set once at start-up; a later recording goes on from what earlier ones tracked.
  recording.running = true;
  line_end();
  inline_prompt("Aufzeichnungzeit? (0: dauernd): ");
  const int seconds = ask_int(console);
  recording.end_time = seconds;
  if (seconds != 0) recording.end_time = start_on_second_boundary(console.port) + seconds;
}

}  // namespace

void show_block(Console& console, const double* values, int count) {
  Recording& recording = console.recording;
  for (int j = 0; j < count / 4; ++j) {
    const double* sample = values + 4 * static_cast<std::ptrdiff_t>(j);
    double display[4];
    to_display_units(sample, console.norms, display);
    std::fputs(sample_line(display).c_str(), stdout);
    if (recording.running) console.extremes.track(display);
  }
  // After the whole block: a block that comes late (the user took long over a dialog) holds the samples
  // of the whole wait, and each of them counts, not only the first.
  if (recording.running && recording.end_time != 0 && std::time(nullptr) >= recording.end_time) {
    finish_timed_recording(console);
  }
  std::fflush(stdout);
}

void abandon_recording(Console& console) {
  Recording& recording = console.recording;
  if (recording.file != nullptr) close_recording_file(recording, 0);
  recording.running = false;
}

void command_recording(Console& console) {
  if (console.recording.running) {
    if (confirm(console, "\nAufzeichnung beenden? (j / n): ")) abandon_recording(console);
    return;
  }
  if (confirm(console, "\nMesswerte aufzeichnen? (j / n): ")) start_recording(console);
}

}  // namespace kolmconsole
