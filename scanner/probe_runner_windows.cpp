// Windows has no fork: the probes run one after the other in this process, so that each failed
// activation's code is read before the next activation can set another.
#include "probe.h"

namespace kolmscan {

int interrupting_signal() { return 0; }  // Ctrl-C ends the program, and there is nothing to clean up

std::vector<ProbeResult> probe_ports(const std::vector<int>& numbers) {
  std::vector<ProbeResult> results;
  results.reserve(numbers.size());
  for (const int number : numbers) results.push_back(probe_port(number));
  return results;
}

}  // namespace kolmscan
