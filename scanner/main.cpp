// kolmscan: lists the serial ports and, with --probe, asks each whether an amplifier answers.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "options.h"
#include "port_list.h"
#include "probe.h"
#include "report.h"
#include "standard_streams.h"

namespace {

std::string environment(const char* name, const char* fallback) {
  // NOLINTNEXTLINE(concurrency-mt-unsafe): read before the probes start, and nothing writes it
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

// The rows of the devices asked for: a listed port where one is that device, else the device alone.
std::vector<kolmscan::Row> only(const std::vector<std::string>& devices, std::vector<kolmscan::Row> listed) {
  std::vector<kolmscan::Row> rows;
  for (const std::string& device : devices) {
    kolmscan::PortInfo asked;
    asked.device = device;
    const std::string identity = kolmscan::device_identity(asked);
    // The entry by that name first (a com<n> link has the number), else one for the same device.
    auto found =
        std::find_if(listed.begin(), listed.end(), [&](const kolmscan::Row& row) { return row.port.device == device; });
    if (found == listed.end()) {
      found = std::find_if(listed.begin(), listed.end(),
                           [&](const kolmscan::Row& row) { return kolmscan::device_identity(row.port) == identity; });
    }
    rows.push_back(found != listed.end() ? *found : kolmscan::Row{asked, std::nullopt, {}});
  }
  return rows;
}

}  // namespace

int main(int argc, char** argv) {
  reopen_closed_standard_streams();
  const auto parsed = kolmscan::parse_arguments(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.options) {
    std::fprintf(stderr, "kolmscan: %s\nTry 'kolmscan --help'.\n", parsed.error.c_str());
    return kolmscan::exit_usage;
  }
  const kolmscan::Options& options = *parsed.options;
  if (options.help) {
    std::fputs(kolmscan::usage().c_str(), stdout);
    return kolmscan::exit_ok;
  }
  if (options.version) {
    std::printf("kolmscan %s\n", PEKOLM_RELEASE);
    return kolmscan::exit_ok;
  }

  kolmscan::Roots roots;
  // Only the tests move these, onto trees of their own making.
  roots.sysfs = environment("KOLMSCAN_SYSFS", "/sys");
  roots.dev = environment("KOLMSCAN_DEV", "/dev");
  roots.port_dir = environment("PEKOLM_PORT_DIR", "");

  std::vector<kolmscan::Row> rows;
  const std::vector<kolmscan::PortInfo> listing = kolmscan::list_ports(roots);
  rows.reserve(listing.size());
  for (const kolmscan::PortInfo& port : listing) rows.push_back({port, std::nullopt, {}});
  if (!options.devices.empty()) rows = only(options.devices, std::move(rows));
  if (options.probe) {
    kolmscan::probe_rows(rows);
    if (const int signal = kolmscan::interrupting_signal(); signal != 0) {
      std::signal(signal, SIG_DFL);  // the links are gone; end as the signal would have ended us
      std::raise(signal);
    }
  }

  const std::string text = options.udev   ? kolmscan::udev_rules(rows, listing, options.first)
                           : options.json ? kolmscan::json(rows)
                                          : kolmscan::table(rows);
  std::fputs(text.c_str(), stdout);
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    std::perror("kolmscan: standard output");
    return kolmscan::exit_usage;
  }
  if (!options.probe) return kolmscan::exit_ok;
  for (const kolmscan::Row& row : rows) {
    if (row.probe && row.probe->outcome == kolmscan::ProbeResult::Outcome::amplifier) return kolmscan::exit_ok;
  }
  return kolmscan::exit_none_found;
}
