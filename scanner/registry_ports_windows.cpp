// Windows: the serial ports the system lists under HARDWARE\DEVICEMAP\SERIALCOMM, one value per port: its
// device object (\Device\Serial0, \Device\VCP0, ...) and, as the data, its name (COM3).
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <charconv>

#include "port_list.h"

namespace kolmscan {
namespace {

std::string narrow(const wchar_t* text, int length) {
  if (length <= 0) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(std::max(size, 0)), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), size, nullptr, nullptr);
  return out;
}

// COM<n> is the library's port n.
int port_number(const std::string& name) {
  if (name.size() < 4 || (name.compare(0, 3, "COM") != 0 && name.compare(0, 3, "com") != 0)) return 0;
  int value = 0;
  const char* end = name.data() + name.size();
  const auto [stop, error] = std::from_chars(name.data() + 3, end, value);
  return error == std::errc() && stop == end && value >= 1 && value <= 255 ? value : 0;
}

}  // namespace

// Every port the registry names is a COM<n>, which the library reaches by its number.
std::string link_for_probing(const std::vector<PortInfo>& ports, std::vector<int>& probe_numbers) {
  probe_numbers.clear();
  // A COM<n> given by name that the registry does not list is still port n.
  for (const PortInfo& port : ports)
    probe_numbers.push_back(port.number != 0 ? port.number : port_number(device_identity(port)));
  return {};
}

void remove_probe_links(const std::string&) {}

std::string device_identity(const PortInfo& port) {
  std::string name = port.device.rfind("\\\\.\\", 0) == 0 ? port.device.substr(4) : port.device;
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

std::vector<PortInfo> list_ports(const Roots&) {
  std::vector<PortInfo> ports;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return ports;  // no serial port at all: the key is made with the first one
  }
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    wchar_t data[256];
    DWORD name_length = 256;
    DWORD data_size = sizeof data;
    DWORD type = 0;
    const LONG result =
        RegEnumValueW(key, index, name, &name_length, nullptr, &type, reinterpret_cast<BYTE*>(data), &data_size);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS || type != REG_SZ) continue;
    int data_length = static_cast<int>(data_size / sizeof(wchar_t));
    while (data_length > 0 && data[data_length - 1] == L'\0') --data_length;  // the data may or may not end in NUL
    PortInfo info;
    info.device = narrow(data, data_length);
    info.driver = narrow(name, static_cast<int>(name_length));
    info.number = port_number(info.device);
    ports.push_back(std::move(info));
  }
  RegCloseKey(key);
  std::sort(ports.begin(), ports.end(), [](const PortInfo& a, const PortInfo& b) {
    return a.number != b.number ? a.number < b.number : a.device < b.device;
  });
  return ports;
}

}  // namespace kolmscan
