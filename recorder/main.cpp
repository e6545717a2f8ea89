// kolmrec: records the measured values of one or more amplifiers into CSV.
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "csv_format.h"
#include "options.h"
#include "pekolm.h"
#include "port_devices.h"
#include "progress.h"
#include "recorded_port.h"
#include "recording_file.h"
#include "sample_sink.h"
#include "standard_streams.h"
#ifdef KOLMREC_MQTT
#include "mqtt_output.h"
#endif

#ifdef _WIN32
#include <io.h>
#define stderr_is_terminal() (_isatty(_fileno(stderr)) != 0)
#define stdout_is_terminal() (_isatty(_fileno(stdout)) != 0)
#else
#include <unistd.h>
#define stderr_is_terminal() (isatty(STDERR_FILENO) != 0)
#define stdout_is_terminal() (isatty(STDOUT_FILENO) != 0)
#endif

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using kolmrec::RecordedPort;

// Often enough that a read takes a few dozen samples at the highest rate, far inside the buffers' 10 s.
constexpr auto read_interval = 20ms;
constexpr auto progress_interval = 250ms;
// How long a port may stay silent before kolmrec says so: a few periods, and never under this.
constexpr auto silence_warning = 5s;

volatile std::sig_atomic_t stop_requested = 0;
// While the recording waits for the broker to take what is queued, a Ctrl-C gives up on the broker instead
// of ending the program: the summary still tells what was not delivered.
volatile std::sig_atomic_t waiting_for_broker = 0;
volatile std::sig_atomic_t broker_given_up = 0;
bool progress_shown = false;  // a progress line stands on standard error without its line end

extern "C" void on_stop_signal(int signal_number) {
  if (waiting_for_broker != 0) {
    broker_given_up = 1;
    return;
  }
  // The second Ctrl-C ends the program at once; the file holds whole rows either way.
  if (stop_requested != 0) {
    remove_port_folder();
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
    return;
  }
  stop_requested = 1;
}

// Without SA_RESTART where there is a choice: a write blocked on a reader that takes nothing (a pipe into
// a stopped program) must give way to Ctrl-C and SIGTERM.
void install_stop_handlers() {
#ifdef _WIN32
  std::signal(SIGINT, on_stop_signal);
  std::signal(SIGTERM, on_stop_signal);
#else
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
#endif
}

void say(const std::string& text) {
  if (std::exchange(progress_shown, false)) std::fputs("\r\x1b[K", stderr);
  std::fprintf(stderr, "kolmrec: %s\n", text.c_str());
}

void report_warnings(std::vector<std::unique_ptr<RecordedPort>>& ports) {
  for (auto& port : ports) {
    for (const std::string& warning : port->take_warnings()) say(warning);
  }
}

// Activation waits half a second or more per port: the ports open side by side.
bool open_all(std::vector<std::unique_ptr<RecordedPort>>& ports) {
  std::vector<std::thread> openers;
  std::vector<char> opened(ports.size(), 0);
  for (std::size_t i = 0; i < ports.size(); ++i) {
    openers.emplace_back([&, i] { opened[i] = ports[i]->open() ? 1 : 0; });
  }
  for (auto& opener : openers) opener.join();
  // The library keeps the code of a failed activation in one place for all ports, and an activation beside it
  // may have taken or cleared it: each port that failed is asked again alone, for its own code.
  if (ports.size() > 1) {
    for (std::size_t i = 0; i < ports.size(); ++i) {
      if (opened[i] == 0 && stop_requested == 0) opened[i] = ports[i]->open() ? 1 : 0;
    }
  }
  bool all = true;
  for (std::size_t i = 0; i < ports.size(); ++i) {
    if (opened[i] == 0) {
      say(ports[i]->error());
      if (!ports[i]->hint().empty()) say(ports[i]->hint());
      all = false;
    }
  }
  report_warnings(ports);
  return all;
}

std::uint64_t samples_wanted(const kolmrec::Options& options, double rate_hz) {
  if (options.samples) return *options.samples;
  if (options.seconds)
    return std::max<std::uint64_t>(1, static_cast<std::uint64_t>(std::ceil(*options.seconds * rate_hz - 1e-9)));
  return UINT64_MAX;
}

int record(const kolmrec::Options& options) {
#ifdef KOLMREC_MQTT
  std::string mqtt_error;
  const std::unique_ptr<kolmrec::MqttOutput> mqtt = kolmrec::MqttOutput::make(options, mqtt_error);
  if (!mqtt_error.empty()) {
    say(mqtt_error);
    return kolmrec::exit_failed;
  }
  const auto report_mqtt_events = [&] {
    if (mqtt) {
      for (const std::string& event : mqtt->take_events()) say(event);
    }
  };
#else
  if (!options.mqtt.url.empty()) {
    say("this kolmrec was built without MQTT");
    return kolmrec::exit_failed;
  }
#endif
  std::vector<std::unique_ptr<RecordedPort>> ports;
  for (const auto& request : options.ports)
    ports.push_back(std::make_unique<RecordedPort>(request, options.normalised, options.host_time));
  const bool opened = open_all(ports);
  // The library has opened what it will: the links of devices given by path are not needed any more.
  remove_port_folder();
  if (!opened) return kolmrec::exit_failed;
  if (stop_requested != 0) {
    say("interrupted before the recording started");
    return kolmrec::exit_failed;
  }

  kolmrec::RecordingDescription description;
  description.library_version = KolmdllVersion();
  description.normalised = options.normalised;
  description.host_time = options.host_time;
  std::vector<std::uint64_t> wanted;
  double slowest_rate = 0;
  for (const auto& port : ports) {
    description.ports.push_back(port->description());
    const double rate = port->description().rate_hz;
    wanted.push_back(samples_wanted(options, rate));
    if (slowest_rate == 0 || rate < slowest_rate) slowest_rate = rate;
  }

  kolmrec::CsvRows csv;
  std::vector<kolmrec::SampleSink*> sinks;
  // With a broker, rows go to a file only where one was asked for.
  const bool to_file = options.mqtt.url.empty() || options.output_given;
  if (to_file) sinks.push_back(&csv);
#ifdef KOLMREC_MQTT
  if (mqtt && !mqtt->connect(description.ports, [] { return stop_requested != 0; })) {
    say(mqtt->error());
    return kolmrec::exit_failed;
  }
#endif
  kolmrec::RecordingFile file;
  if (to_file && !file.open(options.output)) {
    say(file.error());
    return kolmrec::exit_failed;
  }
  for (auto& port : ports) port->start();
  description.start = kolmrec::iso8601_now();
  const Clock::time_point started = Clock::now();
#ifdef KOLMREC_MQTT
  if (mqtt) {
    const auto since_1970 = std::chrono::system_clock::now().time_since_epoch();
    mqtt->start(description, std::chrono::duration_cast<std::chrono::microseconds>(since_1970).count());
    sinks.push_back(&mqtt->sink());
  }
#endif
  kolmrec::SinkList sink(sinks);
  if (to_file && file.write(kolmrec::header_text(description)) != kolmrec::RecordingFile::Written::whole) {
    say(file.error());
    return kolmrec::exit_failed;
  }

  // A port that sends fewer samples than asked for must not keep the recording open for ever.
  std::optional<Clock::time_point> deadline;
  kolmrec::Tally tally;
  for (const auto& port : options.ports) tally.ports.push_back({port.port, 0, port.device});
  if (options.seconds) {
    tally.total_seconds = *options.seconds;
    const double grace = std::max(2.0, *options.seconds / 10) + 1 / slowest_rate;
    deadline =
        started + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(*options.seconds + grace));
  } else if (options.samples) {
    tally.total_seconds = static_cast<double>(*options.samples) / slowest_rate;
  }

  // Rows scrolling by on the same terminal are progress enough, and a progress line would run into them.
  const bool show_progress = !options.quiet && stderr_is_terminal() && !(options.output == "-" && stdout_is_terminal());
  Clock::time_point next_progress = started;
  std::vector<Clock::duration> silence_allowed;
  for (const auto& port : ports) {
    const auto periods = std::chrono::duration<double>(2 / port->description().rate_hz);
    silence_allowed.push_back(
        std::max<Clock::duration>(silence_warning, std::chrono::duration_cast<Clock::duration>(periods)));
  }
  std::vector<Clock::time_point> last_sample(ports.size(), started);
  std::vector<char> silent(ports.size(), 0);
  bool write_failed = false;
  std::string& rows = csv.rows;
  for (;;) {
    const bool stopping = stop_requested != 0;
    const Clock::time_point now = Clock::now();
    const double host_seconds = std::chrono::duration<double>(now - started).count();
    rows.clear();
    bool done = true;
    for (std::size_t i = 0; i < ports.size(); ++i) {
      const std::uint64_t before = ports[i]->samples();
      ports[i]->take(sink, wanted[i], host_seconds);
      if (ports[i]->samples() != before) {
        last_sample[i] = now;
        silent[i] = 0;
      } else if (silent[i] == 0 && now - last_sample[i] >= silence_allowed[i] && !ports[i]->ended()) {
        silent[i] = 1;
        say(kolmrec::port_label(options.ports[i]) + ": no values for " +
            std::to_string(std::chrono::duration_cast<std::chrono::seconds>(silence_allowed[i]).count()) + " s");
      }
      if (ports[i]->next_index() < wanted[i] && !ports[i]->ended()) done = false;
    }
    report_warnings(ports);
#ifdef KOLMREC_MQTT
    if (mqtt) {
      mqtt->send_ready();
      report_mqtt_events();
    }
#endif
    if (!rows.empty()) {
      const auto written = file.write(rows, [] { return stop_requested != 0; });
      if (written == kolmrec::RecordingFile::Written::interrupted) break;
      if (written == kolmrec::RecordingFile::Written::failed) {
        write_failed = true;
        break;
      }
    }
    tally.possible_losses = 0;
    for (std::size_t i = 0; i < ports.size(); ++i) {
      tally.ports[i].samples = ports[i]->samples();
      tally.possible_losses += ports[i]->possible_losses();
    }
    tally.elapsed_seconds = std::chrono::duration<double>(Clock::now() - started).count();
    if (show_progress && (now >= next_progress || done || stopping)) {
      std::fprintf(stderr, "\r%s\x1b[K", kolmrec::progress_line(tally).c_str());
      progress_shown = true;
      next_progress = now + progress_interval;
    }
    if (done || stopping || (deadline && now >= *deadline)) break;
    std::this_thread::sleep_until(now + read_interval);
  }
  if (std::exchange(progress_shown, false)) std::fputc('\n', stderr);

  for (auto& port : ports) port->close();
  report_warnings(ports);
  if (to_file && (write_failed || !file.close())) {
    say(file.error());
    return kolmrec::exit_failed;
  }
  std::string destination = to_file ? file.name() : "";
  int status = kolmrec::exit_ok;
#ifdef KOLMREC_MQTT
  if (mqtt) {
    waiting_for_broker = 1;
    std::vector<std::string> notes;
    const std::uint64_t undelivered =
        mqtt->finish([] { return broker_given_up != 0; }, [](const std::string& text) { say(text); }, notes);
    waiting_for_broker = 0;
    if (undelivered != 0) {
      tally.possible_losses += undelivered;
      status = kolmrec::exit_incomplete;
    }
    report_mqtt_events();
    for (const std::string& note : notes) say(note);
    destination = destination.empty() ? mqtt->destination() : destination + " and " + mqtt->destination();
  }
#endif
  if (!options.quiet) std::fprintf(stderr, "%s\n", kolmrec::summary_line(tally, destination).c_str());

  // A port that stopped working outranks values that may be missing.
  bool port_failed = false;
  for (std::size_t i = 0; i < ports.size(); ++i) {
    const RecordedPort& port = *ports[i];
    const std::string name = kolmrec::port_label(options.ports[i]) + ": ";
    if (port.buffer_found_full() != 0) {
      say(name + "value buffer found full " + kolmrec::times(port.buffer_found_full()) +
          ": values may be lost (estimated " + std::to_string(port.estimated_lost()) + " by the host's clock)");
    }
    if (port.damaged_frames() != 0) {
      say(name + "damaged frames were dropped (reported " + kolmrec::times(port.damaged_frames()) + ")");
    }
    if (port.possible_losses() != 0) status = std::max(status, kolmrec::exit_incomplete);
    if (port.ended()) port_failed = true;
    if (stop_requested == 0 && wanted[i] != UINT64_MAX && port.next_index() < wanted[i]) {
      say(name + std::to_string(port.samples()) + " of " + std::to_string(wanted[i]) + " samples arrived");
      status = std::max(status, kolmrec::exit_incomplete);
    }
  }
  return port_failed ? kolmrec::exit_failed : status;
}

// Gives the devices given by path their numbers, and names the device of every port. It may set
// PEKOLM_PORT_DIR, so it comes before any thread and any call into the library. An exit status, or -1 to go on.
int choose_ports(kolmrec::Options& options) {
  std::vector<port_choice> choices;
  for (const auto& request : options.ports)
    choices.push_back({request.path.empty() ? nullptr : request.path.c_str(), request.port});
  char error[port_device_size];
  const int chosen = choose_port_numbers(choices.data(), choices.size(), error, sizeof error);
  if (chosen == port_numbers_bad) {
    std::fprintf(stderr, "kolmrec: %s\nTry 'kolmrec --help'.\n", error);
    return kolmrec::exit_usage;
  }
  if (chosen != port_numbers_chosen) {
    say(error);
    return kolmrec::exit_failed;
  }
  for (std::size_t i = 0; i < choices.size(); ++i) {
    char device[port_device_size];
    options.ports[i].port = choices[i].port;
    options.ports[i].device = port_device(choices[i].port, device, sizeof device);
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  const int closed = reopen_closed_standard_streams();
  auto parsed = kolmrec::parse_arguments(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.options) {
    std::fprintf(stderr, "kolmrec: %s\nTry 'kolmrec --help'.\n", parsed.error.c_str());
    return kolmrec::exit_usage;
  }
  if (parsed.options->help) {
    std::fputs(kolmrec::usage().c_str(), stdout);
    return kolmrec::exit_ok;
  }
  if (parsed.options->version) {
    std::printf("kolmrec %s\n", PEKOLM_RELEASE);
    return kolmrec::exit_ok;
  }
  // The rows would vanish into the null device, and the recording would look like a success.
  if ((closed & standard_output_closed) != 0 && parsed.options->output == "-") {
    std::fputs("kolmrec: standard output is closed; give a file with -o FILE\n", stderr);
    return kolmrec::exit_failed;
  }
  install_stop_handlers();
  if (const int status = choose_ports(*parsed.options); status >= 0) return status;
  return record(*parsed.options);
}
