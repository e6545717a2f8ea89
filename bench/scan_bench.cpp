// kolmscan --probe on many ports, most of them silent. The ports are N ptys that nobody answers on, beside two
// simulated amplifiers; kolmscan sees only them (an empty sysfs, PEKOLM_PORT_DIR a folder of their links).
// The floor is the same kolmscan probing one silent port alone, measured in the same round: a silent port
// costs six rates of the library's answer time-out, and probing all of them side by side should cost little
// more.
//
//   scan_bench [--silent N (30; 1..253)] [--rounds R (3)] [--kolmscan PATH]
//
// Exits 1 when the ports cannot be set up, 2 when kolmscan does not report each port as it is.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "kolmsim/simulator.h"

namespace {

namespace fs = std::filesystem;

struct Run {
  double seconds = 0;
  std::string out;
};

Run run(const std::string& command) {
  const auto started = std::chrono::steady_clock::now();
  std::string out;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    ::pclose(pipe);
  }
  return {std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(), out};
}

std::size_t count(const std::string& text, const std::string& word) {
  std::size_t n = 0;
  for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
  return n;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int silent = 30;
  int rounds = 3;
  std::string kolmscan = KOLMSCAN_PATH;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    if (name == "--silent") silent = std::clamp(std::atoi(argv[i + 1]), 1, 253);
    if (name == "--rounds") rounds = std::max(1, std::atoi(argv[i + 1]));
    if (name == "--kolmscan") kolmscan = argv[i + 1];
  }
  char pattern[] = "/tmp/scan_bench.XXXXXX";
  if (::mkdtemp(pattern) == nullptr) return 1;
  const fs::path folder = pattern;
  fs::create_directories(folder / "ports");
  fs::create_directories(folder / "sys" / "class" / "tty");
  std::vector<int> masters;
  for (int k = 0; k < silent; ++k) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return 1;
    masters.push_back(master);
    fs::create_symlink(::ptsname(master), folder / "ports" / ("com" + std::to_string(k + 3)));
  }
  std::vector<std::unique_ptr<kolmsim::Simulator>> amplifiers;
  for (int n = 1; n <= 2; ++n) {
    amplifiers.push_back(std::make_unique<kolmsim::Simulator>());
    amplifiers.back()->link_port((folder / "ports").string(), n);
  }
  const std::string environment = "KOLMSCAN_SYSFS=" + (folder / "sys").string() +
                                  " KOLMSCAN_DEV=" + (folder / "dev").string() +
                                  " PEKOLM_PORT_DIR=" + (folder / "ports").string() + " ";
  const std::string one = environment + kolmscan + " --probe --device " + (folder / "ports" / "com3").string();
  const std::string all = environment + kolmscan + " --probe";

  int status = 0;
  std::vector<double> ratios;
  std::vector<double> floors;
  std::vector<double> wholes;
  for (int round = 1; round <= rounds; ++round) {
    const Run floor = run(one);
    const Run whole = run(all);
    const bool right = count(floor.out, "silent at every baud rate") == 1 &&
                       count(whole.out, "silent at every baud rate") == static_cast<std::size_t>(silent) &&
                       count(whole.out, "amplifier 0001234") == 2;
    if (!right) {
      std::fprintf(stderr, "round %d: kolmscan did not report every port as it is:\n%s", round, whole.out.c_str());
      status = 2;
    }
    floors.push_back(floor.seconds);
    wholes.push_back(whole.seconds);
    ratios.push_back(whole.seconds / floor.seconds);
    std::printf("round %d: one silent port %.1f s, %d silent ports and 2 amplifiers %.1f s, ratio %.2f\n", round,
                floor.seconds, silent, whole.seconds, ratios.back());
  }
  std::ostringstream listed;
  for (std::size_t i = 0; i < ratios.size(); ++i) listed << (i == 0 ? "" : ",") << ratios[i];
  std::printf("SUMMARY ports=%d floor_s=%.1f scan_s=%.1f ratio_median=%.2f ratio_rounds=%s\n", silent + 2,
              median(floors), median(wholes), median(ratios), listed.str().c_str());
  amplifiers.clear();
  for (const int master : masters) ::close(master);
  fs::remove_all(folder);
  return status;
}
