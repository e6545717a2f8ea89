// What the system knows of its serial ports, read from sysfs and /dev below roots that tests replace.
#pragma once

#include <string>
#include <vector>

namespace kolmscan {

#ifndef PEKOLM_DEFAULT_PORT_DIR
#define PEKOLM_DEFAULT_PORT_DIR "/dev/pekolm"
#endif

struct Roots {
  std::string sysfs = "/sys";
  std::string dev = "/dev";
  std::string port_dir;  // PEKOLM_PORT_DIR; empty when it is not set
  // Where the library looks for com<n> links (as udev rules make them) when PEKOLM_PORT_DIR is not set.
  std::string default_port_dir = PEKOLM_DEFAULT_PORT_DIR;
};

struct PortInfo {
  std::string device;  // the path a program opens: /dev/ttyUSB0, or $PEKOLM_PORT_DIR/com3
  std::string target;  // what a com<n> entry resolves to; empty for the system's own devices
  int number = 0;      // the library's port number; 0 for none
  std::string driver;
  std::string vid_pid;  // "0403:6001" for a USB adapter
  std::string manufacturer;
  std::string product;
  std::string serial;
  std::string usb_path;       // the USB device's folder name, such as 1-1.2
  std::string usb_interface;  // its interface the tty belongs to, as bInterfaceNumber says: "00", "01", ...
  std::vector<std::string> by_id;
  std::vector<std::string> by_path;
  bool operator==(const PortInfo&) const = default;
};

// Linux: the ttys of /sys/class/tty that sit on a device (ports of the 8250 driver without a UART left out)
// in natural order, then the com<n> entries by n of PEKOLM_PORT_DIR, or where it is not set of the library's
// default folder; /dev/ttyS<k> is port k+1 only where neither folder gives that number a link. Windows: the ports of
// the registry's SERIALCOMM by number, each with its device object as the driver; the roots are not used there.
std::vector<PortInfo> list_ports(const Roots& roots);

// The library reaches a port only by number. For a probe of every port, each gets one in a folder of
// links of its own (the numbered ones their own number, the others a free one, counting down from 255),
// and PEKOLM_PORT_DIR names it from then on: call it before the first call into the library and before
// any other thread runs. Returns the folder, empty when no port lacks a number (nothing is made or set
// then) or where there are no such links (Windows).
// The numbers given are written into `probe_numbers`, one per port (0: still none; -1: no folder could be
// made for the links).
std::string link_for_probing(const std::vector<PortInfo>& ports, std::vector<int>& probe_numbers);
// What tells two entries for one device apart from two devices: the path that links lead to.
std::string device_identity(const PortInfo& port);
// Removes what link_for_probing made.
void remove_probe_links(const std::string& folder);

}  // namespace kolmscan
