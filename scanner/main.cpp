// kolmscan: lists the serial ports and, with --probe, asks each whether an amplifier answers.
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

// One port after the other: the error of a failed activation waits in one place for all ports, so that two
// activations failing at once (a busy port, a missing one) would swap or lose their codes, and a port that
// failed would pass for one that answered.
void probe_all(std::vector<kolmscan::Row>& rows) {
  std::vector<kolmscan::PortInfo> ports;
  ports.reserve(rows.size());
  for (const kolmscan::Row& row : rows) ports.push_back(row.port);
  std::vector<int> numbers;
  // Before the first call into the library and before any thread: the library reads PEKOLM_PORT_DIR at
  // each activation.
  const std::string links = kolmscan::link_for_probing(ports, numbers);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    kolmscan::Row& row = rows[i];
    if (numbers[i] == 0) {
      row.probe = kolmscan::ProbeResult{};
      row.probe->error_text = "no port number left for it";
      continue;
    }
    row.probe = kolmscan::probe_port(numbers[i]);
  }
  kolmscan::remove_probe_links(links);
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
  for (kolmscan::PortInfo& port : kolmscan::list_ports(roots)) rows.push_back({std::move(port), std::nullopt});
  if (options.probe) probe_all(rows);

  const std::string text = options.udev   ? kolmscan::udev_rules(rows, options.first)
                           : options.json ? kolmscan::json(rows)
                                          : kolmscan::table(rows);
  std::fputs(text.c_str(), stdout);
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    std::perror("kolmscan: standard output");
    return kolmscan::exit_none_found;
  }
  if (!options.probe) return kolmscan::exit_ok;
  for (const kolmscan::Row& row : rows) {
    if (row.probe && row.probe->outcome == kolmscan::ProbeResult::Outcome::amplifier) return kolmscan::exit_ok;
  }
  return kolmscan::exit_none_found;
}
