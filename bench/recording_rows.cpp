#include "recording_rows.h"

#include <cstdio>
#include <map>

namespace bench {

bool check_recording_rows(const std::string& path, const StreamedPorts& ports) {
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) return false;
  std::map<int, int> port_of;
  char line[512];
  bool rows = false, good = true;
  while (std::fgets(line, sizeof line, file) != nullptr) {
    int column = 0, port = 0;
    if (std::sscanf(line, "# port %d node port: %d", &column, &port) == 2) port_of[column] = port;
    if (line[0] == '#') continue;
    if (!rows) {
      rows = std::string(line).rfind("port,index,", 0) == 0;
      continue;
    }
    unsigned long long index = 0;
    double time = 0, v[4] = {};
    if (std::sscanf(line, "%d,%llu,%lf,%lf,%lf,%lf,%lf", &column, &index, &time, &v[0], &v[1], &v[2], &v[3]) != 7) {
      good = false;
      continue;
    }
    const auto mapped = port_of.find(column);
    port = mapped == port_of.end() ? column : mapped->second;
    if (port < 1 || port > static_cast<int>(ports.size())) {
      good = false;
      continue;
    }
    ports[port - 1]->check.frame({raw_of(v[0]), raw_of(v[1]), raw_of(v[2]), raw_of(v[3])}, port);
  }
  std::fclose(file);
  return good && rows;
}

}  // namespace bench
