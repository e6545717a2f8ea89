// kolmsim: a simulated amplifier on a pseudo-terminal, for people and scripts.
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "kolmsim/simulator.h"
#include "signals_and_child.h"
#include "standard_streams.h"
#include "tool_options.h"

namespace {

// The directory that holds the port link; removed at the end if this program made it.
class PortDir {
 public:
  explicit PortDir(const std::string& requested) {
    if (requested.empty()) {
      char templ[] = "/tmp/kolmsim.XXXXXX";
      if (!mkdtemp(templ)) throw std::system_error(errno, std::generic_category(), "mkdtemp");
      path_ = templ;
      created_ = true;
      return;
    }
    path_ = std::filesystem::absolute(requested).lexically_normal().string();
    if (path_.size() > 1 && path_.back() == '/') path_.pop_back();
    if (mkdir(path_.c_str(), 0755) == 0) {
      created_ = true;
    } else if (errno != EEXIST) {
      throw std::system_error(errno, std::generic_category(), "mkdir " + path_);
    }
  }
  ~PortDir() {
    if (created_) rmdir(path_.c_str());
  }
  PortDir(const PortDir&) = delete;
  PortDir& operator=(const PortDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  bool created_ = false;
};

int run(const kolmsim::tool::ToolOptions& options) {
  PortDir dir(options.port_dir);
  // Before the simulator starts its thread, which inherits the mask.
  kolmsim::tool::block_tool_signals();
  setenv("PEKOLM_PORT_DIR", dir.path().c_str(), 1);  // NOLINT(concurrency-mt-unsafe): no other thread runs yet

  // One amplifier a port, each with a pty and a serving thread of its own.
  std::vector<std::unique_ptr<kolmsim::Simulator>> amplifiers;
  for (std::size_t index = 0; index < options.coms.size(); ++index) {
    auto& simulator = *amplifiers.emplace_back(std::make_unique<kolmsim::Simulator>(options.simulator));
    const std::string serial = kolmsim::tool::serial_number(options, index);
    simulator.update_state([&](kolmsim::AmplifierState& state) { state.serial_number = serial; });
    // Before the link: no host sees the default signal first.
    for (int channel = 1; channel <= 4; ++channel) simulator.set_channel_signal(channel, options.signals[channel - 1]);
    simulator.link_port(dir.path(), options.coms[index]);
    if (!options.quiet) {
      std::fprintf(stderr, "kolmsim: amplifier %s on %s as port %d (%s/com%d); PEKOLM_PORT_DIR=%s\n", serial.c_str(),
                   simulator.slave_path().c_str(), options.coms[index], dir.path().c_str(), options.coms[index],
                   dir.path().c_str());
    }
  }
  if (!options.quiet && options.loads != std::array<int, 4>{}) {
    std::fprintf(stderr, "kolmsim: 'kill -USR1 %d' puts the load on, 'kill -USR2 %d' takes it off\n",
                 static_cast<int>(getpid()), static_cast<int>(getpid()));
  }
  kolmsim::tool::LoadSwitch load(
      [&](bool on) {
        for (auto& simulator : amplifiers) {
          for (int channel = 1; channel <= 4; ++channel) {
            simulator->set_channel_load(channel, on ? options.loads[channel - 1] : 0);
          }
        }
        // The line also tells a script that watches it that values measured from now on carry the change.
        if (!options.quiet) std::fprintf(stderr, "kolmsim: load %s\n", on ? "on" : "off");
      },
      options.load_at, kolmsim::Clock::now());
  return options.command.empty() ? kolmsim::tool::wait_for_stop_signal(load)
                                 : kolmsim::tool::run_command(options.command, load);
}

}  // namespace

int main(int argc, char** argv) {
  // The pty must not take a free standard number: kolmsim's messages would reach the host as if the
  // amplifier had sent them. One that was closed goes on into the null device: all kolmsim writes there
  // is for people to read.
  reopen_closed_standard_streams();
  const auto parsed = kolmsim::tool::parse_arguments(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.options) {
    std::fprintf(stderr, "kolmsim: %s\nTry 'kolmsim --help'.\n", parsed.error.c_str());
    return 2;
  }
  if (parsed.options->help) {
    std::fputs(kolmsim::tool::usage().c_str(), stdout);
    return 0;
  }
  if (parsed.options->version) {
    std::printf("kolmsim %s\n", PEKOLM_RELEASE);
    return 0;
  }
  try {
    return run(*parsed.options);
  } catch (const std::exception& e) {
    // The simulator's own errors name it already.
    const std::string what = e.what();
    std::fprintf(stderr, "%s%s\n", what.rfind("kolmsim: ", 0) == 0 ? "" : "kolmsim: ", what.c_str());
    return 1;
  }
}
