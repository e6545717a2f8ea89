// Which rows to probe under which number, and the results back onto the rows.
#include <map>

#include "port_list.h"
#include "probe.h"

namespace kolmscan {

void probe_rows(std::vector<Row>& rows) {
  // One probe per device: probing a link and its tty side by side, one would find the other holding the port.
  // The row with a number is probed, so that the number reported is one the library opens; every row of the
  // device gets the result.
  std::map<std::string, std::size_t> probed_row_of;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    rows[i].identity = device_identity(rows[i].port);
    const auto [probed, fresh] = probed_row_of.try_emplace(rows[i].identity, i);
    if (!fresh && rows[probed->second].port.number == 0 && rows[i].port.number != 0) probed->second = i;
  }
  std::vector<PortInfo> ports;
  std::vector<std::size_t> row_of_port;
  for (const auto& [identity, row] : probed_row_of) {
    ports.push_back(rows[row].port);
    row_of_port.push_back(row);
  }
  std::vector<int> numbers;
  const std::string links = link_for_probing(ports, numbers);
  std::vector<int> probed_numbers;
  std::vector<std::size_t> probed_rows;
  for (std::size_t p = 0; p < ports.size(); ++p) {
    if (numbers[p] <= 0) {
      rows[row_of_port[p]].probe = ProbeResult{};
      rows[row_of_port[p]].probe->error_text =
          numbers[p] < 0 ? "no folder for its link in $TMPDIR (or /tmp)" : "no port number left for it";
      continue;
    }
    probed_numbers.push_back(numbers[p]);
    probed_rows.push_back(row_of_port[p]);
  }
  std::vector<ProbeResult> results = probe_ports(probed_numbers);
  remove_probe_links(links);
  for (std::size_t p = 0; p < results.size(); ++p) rows[probed_rows[p]].probe = std::move(results[p]);
  for (Row& row : rows) {
    if (!row.probe) row.probe = rows[probed_row_of[row.identity]].probe;
  }
}

}  // namespace kolmscan
