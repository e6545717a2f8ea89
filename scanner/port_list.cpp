// Reading sysfs: every tty that sits on a device, with what its device and, for USB, the adapter say.
#include "port_list.h"

#include <stdlib.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>
#include <tuple>

namespace fs = std::filesystem;

namespace kolmscan {
namespace {

// The first line of a sysfs attribute; empty when there is none.
std::string attribute(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  if (!in || !std::getline(in, line)) return {};
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return line;
}

// The entries of a folder; none where it cannot be read. A folder that changes while it is read (a device
// unplugged) ends the list early rather than with an exception.
std::vector<fs::path> entries(const fs::path& folder) {
  std::vector<fs::path> found;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    found.push_back(it->path());
  }
  return found;
}

std::string link_name(const fs::path& link) {
  std::error_code error;
  const fs::path target = fs::read_symlink(link, error);
  return error ? std::string() : target.filename().string();
}

std::optional<int> trailing_number(const std::string& name, const std::string& prefix) {
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
  if (name[prefix.size()] == '0' && name.size() > prefix.size() + 1) return std::nullopt;
  int value = 0;
  const char* end = name.data() + name.size();
  const auto [stop, error] = std::from_chars(name.data() + prefix.size(), end, value);
  if (error != std::errc() || stop != end) return std::nullopt;
  return value;
}

// ttyS2 before ttyS10: the name's letters, then its trailing number.
bool natural_less(const std::string& a, const std::string& b) {
  const auto split = [](const std::string& s) {
    std::size_t digits = s.size();
    while (digits > 0 && s[digits - 1] >= '0' && s[digits - 1] <= '9') --digits;
    const std::string tail = s.substr(digits);
    return std::make_tuple(s.substr(0, digits), tail.size(), tail);
  };
  return split(a) < split(b);
}

// The links of a /dev/serial folder that lead to the device.
std::vector<std::string> links_to(const fs::path& folder, const fs::path& device) {
  std::vector<std::string> found;
  std::error_code error;
  const fs::path wanted = fs::canonical(device, error);
  if (error) return found;
  for (const fs::path& entry : entries(folder)) {
    std::error_code own;
    if (!fs::is_symlink(entry, own)) continue;
    if (fs::canonical(entry, own) == wanted && !own) found.push_back(entry.string());
  }
  std::sort(found.begin(), found.end());
  return found;
}

// The driver of the hardware: since Linux 6.5 a serial core port sits on devices of the bus serial-base,
// whose drivers ("port", "ctrl") are the same for every UART.
std::string driver_of(const fs::path& device) {
  std::error_code error;
  fs::path folder = fs::canonical(device, error);
  if (error) return {};
  while (link_name(folder / "subsystem") == "serial-base" && folder.has_parent_path() && folder != folder.root_path()) {
    folder = folder.parent_path();
  }
  std::string driver = link_name(folder / "driver");
  return driver.empty() ? link_name(folder / "subsystem") : driver;
}

// The USB device a tty sits on: the first folder up from its device that has idVendor.
void add_usb(const fs::path& sysfs, const fs::path& device, PortInfo& info) {
  std::error_code error;
  const fs::path top = fs::canonical(sysfs, error);
  fs::path folder = fs::canonical(device, error);
  if (error) return;
  for (; !folder.empty() && folder != top && folder != folder.root_path(); folder = folder.parent_path()) {
    // An adapter with several ports has one USB interface for each, below the USB device.
    if (info.usb_interface.empty()) info.usb_interface = attribute(folder / "bInterfaceNumber");
    if (!fs::exists(folder / "idVendor", error)) continue;
    info.vid_pid = attribute(folder / "idVendor") + ":" + attribute(folder / "idProduct");
    info.manufacturer = attribute(folder / "manufacturer");
    info.product = attribute(folder / "product");
    info.serial = attribute(folder / "serial");
    info.usb_path = folder.filename().string();
    return;
  }
}

std::vector<PortInfo> system_ttys(const Roots& roots) {
  std::vector<PortInfo> ports;
  std::vector<std::string> names;
  for (const fs::path& entry : entries(fs::path(roots.sysfs) / "class" / "tty")) {
    names.push_back(entry.filename().string());
  }
  std::sort(names.begin(), names.end(), natural_less);
  for (const std::string& name : names) {
    const fs::path tty = fs::path(roots.sysfs) / "class" / "tty" / name;
    const fs::path device = tty / "device";
    std::error_code own;
    if (!fs::is_symlink(device, own)) continue;  // virtual consoles, ptys
    // The 8250 driver registers its ports whether or not a UART answers there; those read type 0.
    if (attribute(tty / "type") == "0") continue;
    PortInfo info;
    info.device = (fs::path(roots.dev) / name).string();
    if (const auto k = trailing_number(name, "ttyS"); k && roots.port_dir.empty() && *k < 255) {
      // The library takes a link of its default folder first.
      std::error_code none;
      const fs::path link = fs::path(roots.default_port_dir) / ("com" + std::to_string(*k + 1));
      if (!fs::exists(fs::symlink_status(link, none))) info.number = *k + 1;
    }
    info.driver = driver_of(device);
    add_usb(roots.sysfs, device, info);
    info.by_id = links_to(fs::path(roots.dev) / "serial" / "by-id", info.device);
    info.by_path = links_to(fs::path(roots.dev) / "serial" / "by-path", info.device);
    ports.push_back(std::move(info));
  }
  return ports;
}

std::vector<PortInfo> port_dir_entries(const Roots& roots) {
  std::vector<PortInfo> ports;
  const std::string& dir = roots.port_dir.empty() ? roots.default_port_dir : roots.port_dir;
  if (dir.empty()) return ports;
  for (const fs::path& entry : entries(dir)) {
    const auto n = trailing_number(entry.filename().string(), "com");
    if (!n || *n < 1 || *n > 255) continue;
    PortInfo info;
    info.device = entry.string();
    info.number = *n;
    std::error_code own;
    info.target = fs::canonical(entry, own).string();
    if (own) info.target = fs::read_symlink(entry, own).string();  // leads nowhere (yet)
    ports.push_back(std::move(info));
  }
  std::sort(ports.begin(), ports.end(), [](const PortInfo& a, const PortInfo& b) { return a.number < b.number; });
  return ports;
}

}  // namespace

std::string link_for_probing(const std::vector<PortInfo>& ports, std::vector<int>& probe_numbers) {
  probe_numbers.clear();
  std::vector<bool> taken(256, false);
  bool any_without = false;
  for (const PortInfo& port : ports) {
    probe_numbers.push_back(port.number);
    taken[static_cast<std::size_t>(port.number)] = true;
    any_without = any_without || port.number == 0;
  }
  if (!any_without) return {};
  std::error_code no_temp;
  std::string pattern = (fs::temp_directory_path(no_temp) / "kolmscan.XXXXXX").string();  // $TMPDIR, else /tmp
  if (no_temp || ::mkdtemp(pattern.data()) == nullptr) {
    for (int& number : probe_numbers) number = number == 0 ? -1 : number;
    return {};
  }
  const fs::path folder = pattern;
  int next_free = 255;
  for (std::size_t i = 0; i < ports.size(); ++i) {
    if (probe_numbers[i] == 0) {
      while (next_free > 0 && taken[static_cast<std::size_t>(next_free)]) --next_free;
      if (next_free == 0) continue;  // more ports than numbers: the rest stays unprobed
      probe_numbers[i] = next_free;
      taken[static_cast<std::size_t>(next_free)] = true;
    }
    // Relative to where kolmscan runs, not to the folder of links.
    std::error_code error;
    fs::create_symlink(fs::absolute(ports[i].device, error), folder / ("com" + std::to_string(probe_numbers[i])),
                       error);
    if (error) probe_numbers[i] = 0;
  }
  ::setenv("PEKOLM_PORT_DIR", folder.c_str(), 1);  // NOLINT(concurrency-mt-unsafe): see the header
  return folder.string();
}

std::string device_identity(const PortInfo& port) {
  std::error_code error;
  const fs::path device = fs::canonical(port.device, error);
  return error ? fs::absolute(port.device, error).lexically_normal().string() : device.string();
}

void remove_probe_links(const std::string& folder) {
  std::error_code ignored;
  if (!folder.empty()) fs::remove_all(folder, ignored);
}

std::vector<PortInfo> list_ports(const Roots& roots) {
  std::vector<PortInfo> ports = system_ttys(roots);
  std::vector<PortInfo> entries = port_dir_entries(roots);
  ports.insert(ports.end(), entries.begin(), entries.end());
  return ports;
}

}  // namespace kolmscan
