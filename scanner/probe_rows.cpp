// Which rows to probe under which number, and the results back onto the rows.
#include <map>

#include "port_list.h"
#include "probe.h"

namespace kolmscan {

void probe_rows(std::vector<Row>& rows) {
  // One probe per device: probing a link and its tty side by side, one would find the other holding the port.
  std::vector<PortInfo> ports;
  std::vector<std::size_t> row_of_port;
  std::map<std::string, std::size_t> first_row_of;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto [first, fresh] = first_row_of.try_emplace(device_identity(rows[i].port), i);
    if (!fresh) {
      rows[i].probe = ProbeResult{};
      rows[i].probe->error_text = "the same device as " + rows[first->second].port.device;
      continue;
    }
    ports.push_back(rows[i].port);
    row_of_port.push_back(i);
  }
  std::vector<int> numbers;
  const std::string links = link_for_probing(ports, numbers);
  std::vector<int> probed_numbers;
  std::vector<std::size_t> probed_rows;
  for (std::size_t p = 0; p < ports.size(); ++p) {
    if (numbers[p] == 0) {
      rows[row_of_port[p]].probe = ProbeResult{};
      rows[row_of_port[p]].probe->error_text = "no port number left for it";
      continue;
    }
    probed_numbers.push_back(numbers[p]);
    probed_rows.push_back(row_of_port[p]);
  }
  std::vector<ProbeResult> results = probe_ports(probed_numbers);
  remove_probe_links(links);
  for (std::size_t p = 0; p < results.size(); ++p) rows[probed_rows[p]].probe = std::move(results[p]);
}

}  // namespace kolmscan
