// The list kolmscan reads from a sysfs and /dev tree built here, and the words it gives it.
#include "port_list.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <ostream>

#include "report.h"
#include "scratch_folder.h"

namespace kolmscan {
void PrintTo(const PortInfo& p, std::ostream* out) { *out << json({{p, std::nullopt}}); }
}  // namespace kolmscan

namespace {

namespace fs = std::filesystem;
using kolmscan::PortInfo;

class FakeTree {
 public:
  const fs::path& root() const { return folder_.path(); }
  std::string at(const std::string& relative) const { return folder_.at(relative); }

  void file(const std::string& relative, const std::string& text) const {
    fs::create_directories((root() / relative).parent_path());
    std::ofstream(root() / relative) << text << "\n";
  }
  void link(const std::string& relative, const std::string& target) const {
    fs::create_directories((root() / relative).parent_path());
    fs::create_directory_symlink(target, root() / relative);
  }
  void folder(const std::string& relative) const { fs::create_directories(root() / relative); }
  // A tty of /sys/class/tty on the device folder under sys/devices, with a type when the tty has one.
  void tty(const std::string& name, const std::string& device, const std::string& type = "") const {
    folder("sys/devices/" + device);
    folder("sys/class/tty/" + name);
    link("sys/class/tty/" + name + "/device", at("sys/devices/" + device));
    if (!type.empty()) file("sys/class/tty/" + name + "/type", type);
    file("dev/" + name, "");
  }
  void usb_device(const std::string& folder_path, const std::string& vid, const std::string& pid,
                  const std::string& manufacturer, const std::string& product, const std::string& serial) const {
    file(folder_path + "/idVendor", vid);
    file(folder_path + "/idProduct", pid);
    file(folder_path + "/manufacturer", manufacturer);
    file(folder_path + "/product", product);
    if (!serial.empty()) file(folder_path + "/serial", serial);
  }

 private:
  testing_support::ScratchFolder folder_{"kolmscan-test"};
};

PortInfo plain(const std::string& device, const std::string& target, int number, const std::string& driver = "") {
  PortInfo port;
  port.device = device;
  port.target = target;
  port.number = number;
  port.driver = driver;
  return port;
}

// The tree of a machine with an 8250 port without UART, one with, a platform UART, two USB adapters behind
// a hub and a virtual console.
void build_machine(const FakeTree& t) {
  t.folder("sys/bus/serial-base/drivers/port");
  t.folder("sys/bus/pnp/drivers/serial");
  t.folder("sys/bus/platform/drivers/serial8250");
  t.folder("sys/bus/amba/drivers/uart-pl011");
  t.folder("sys/bus/usb-serial/drivers/ftdi_sio");
  t.folder("sys/bus/usb/drivers/cdc_acm");

  t.tty("ttyS0", "pnp0/00:01/00:01:0/00:01:0.0", "4");
  for (const char* layer : {"pnp0/00:01/00:01:0/00:01:0.0", "pnp0/00:01/00:01:0"}) {
    t.link("sys/devices/" + std::string(layer) + "/subsystem", t.at("sys/bus/serial-base"));
  }
  t.link("sys/devices/pnp0/00:01/00:01:0/00:01:0.0/driver", t.at("sys/bus/serial-base/drivers/port"));
  t.link("sys/devices/pnp0/00:01/driver", t.at("sys/bus/pnp/drivers/serial"));
  t.tty("ttyS1", "platform/serial8250", "0");
  t.link("sys/devices/platform/serial8250/driver", t.at("sys/bus/platform/drivers/serial8250"));
  t.tty("ttyAMA0", "platform/fe201000.serial");
  t.link("sys/devices/platform/fe201000.serial/driver", t.at("sys/bus/amba/drivers/uart-pl011"));
  t.folder("sys/class/tty/tty0");

  const std::string hub = "sys/devices/pci0000:00/0000:00:14.0/usb1/1-1";
  t.usb_device(hub, "05e3", "0608", "Hub maker", "Hub", "HUB1");
  t.tty("ttyUSB0", "pci0000:00/0000:00:14.0/usb1/1-1/1-1.2/1-1.2:1.0/ttyUSB0");
  t.usb_device(hub + "/1-1.2", "0403", "6001", "Maker A", "Serial \"Cable\"", "A50285BI");
  t.file(hub + "/1-1.2/1-1.2:1.0/bInterfaceNumber", "00");
  t.file(hub + "/1-1.4/1-1.4:1.0/bInterfaceNumber", "00");
  t.link(hub + "/1-1.2/1-1.2:1.0/ttyUSB0/driver", t.at("sys/bus/usb-serial/drivers/ftdi_sio"));
  t.tty("ttyACM0", "pci0000:00/0000:00:14.0/usb1/1-1/1-1.4/1-1.4:1.0");
  t.usb_device(hub + "/1-1.4", "2341", "0043", "Maker B", "Bridge", "");
  t.link(hub + "/1-1.4/1-1.4:1.0/driver", t.at("sys/bus/usb/drivers/cdc_acm"));

  t.link("dev/serial/by-id/usb-Maker_A_Serial_Cable_A50285BI-if00-port0", "../../ttyUSB0");
  t.link("dev/serial/by-id/usb-Maker_B_Bridge-if00", "../../ttyACM0");
  t.link("dev/serial/by-path/pci-0000:00:14.0-usb-0:1.2:1.0-port0", "../../ttyUSB0");
  t.link("dev/serial/by-path/pci-0000:00:14.0-usb-0:1.4:1.0", "../../ttyACM0");

  t.link("ports/com3", t.at("dev/ttyUSB0"));
  t.link("ports/com12", t.at("ports/gone"));
  t.link("ports/com0", t.at("dev/ttyUSB0"));
  t.file("ports/comx", "");
  t.link("pekolm/com1", t.at("dev/ttyUSB0"));  // as udev rules make them
}

TEST(PortList, ListsWhatTheSystemKnowsOfEachPort) {
  FakeTree t;
  build_machine(t);
  const PortInfo acm{t.at("dev/ttyACM0"),
                     "",
                     0,
                     "cdc_acm",
                     "2341:0043",
                     "Maker B",
                     "Bridge",
                     "",
                     "1-1.4",
                     "00",
                     {t.at("dev/serial/by-id/usb-Maker_B_Bridge-if00")},
                     {t.at("dev/serial/by-path/pci-0000:00:14.0-usb-0:1.4:1.0")}};
  const PortInfo ama = plain(t.at("dev/ttyAMA0"), "", 0, "uart-pl011");
  const PortInfo uart = plain(t.at("dev/ttyS0"), "", 1, "serial");
  const PortInfo usb{t.at("dev/ttyUSB0"),
                     "",
                     0,
                     "ftdi_sio",
                     "0403:6001",
                     "Maker A",
                     "Serial \"Cable\"",
                     "A50285BI",
                     "1-1.2",
                     "00",
                     {t.at("dev/serial/by-id/usb-Maker_A_Serial_Cable_A50285BI-if00-port0")},
                     {t.at("dev/serial/by-path/pci-0000:00:14.0-usb-0:1.2:1.0-port0")}};
  PortInfo unnumbered_uart = uart;
  unnumbered_uart.number = 0;
  const PortInfo com3 = plain(t.at("ports/com3"), t.at("dev/ttyUSB0"), 3);
  const PortInfo com12 = plain(t.at("ports/com12"), t.at("ports/gone"), 12);
  const PortInfo linked_com1 = plain(t.at("pekolm/com1"), t.at("dev/ttyUSB0"), 1);

  const struct {
    const char* name;
    std::string port_dir;
    std::string default_port_dir;
    std::vector<PortInfo> expected;
  } cases[] = {
      {"without PEKOLM_PORT_DIR: ttyS0 is port 1", "", t.at("none"), {acm, ama, uart, usb}},
      {"a link in the default folder takes its number from ttyS0",
       "",
       t.at("pekolm"),
       {acm, ama, unnumbered_uart, usb, linked_com1}},
      {"with PEKOLM_PORT_DIR: only its com<n> have numbers",
       t.at("ports"),
       t.at("pekolm"),
       {acm, ama, unnumbered_uart, usb, com3, com12}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const kolmscan::Roots roots{t.at("sys"), t.at("dev"), c.port_dir, c.default_port_dir};
    EXPECT_EQ(kolmscan::list_ports(roots), c.expected);
  }
}

TEST(PortList, TableAlignsAndJsonEscapes) {
  const struct {
    std::string text;
    std::string expected;
  } strings[] = {{"plain", "\"plain\""},
                 {"a\"b\\c", "\"a\\\"b\\\\c\""},
                 {"\n\t\x01", "\"\\n\\t\\u0001\""},
                 {"\xc3\xbc \xf0\x9f\x94\x8c", "\"\xc3\xbc \xf0\x9f\x94\x8c\""},
                 // Bytes that are no UTF-8: cut, overlong, a surrogate, a stray continuation, beyond U+10FFFF.
                 {"A\xc3", "\"A\\ufffd\""},
                 {"\xc0\xaf\xed\xa0\x80", "\"\\ufffd\\ufffd\\ufffd\\ufffd\\ufffd\""},
                 {"\x80\xf4\x90\x80\x80", "\"\\ufffd\\ufffd\\ufffd\\ufffd\\ufffd\""}};
  for (const auto& s : strings) EXPECT_EQ(kolmscan::json_string(s.text), s.expected);

  kolmscan::ProbeResult found;
  found.outcome = kolmscan::ProbeResult::Outcome::amplifier;
  found.serial_number = "00000042";
  found.firmware = 10;
  found.mode = 1;
  found.rate_hz = 600;
  found.tx_mode = 2;
  found.baud = 115200;
  kolmscan::ProbeResult busy;
  busy.outcome = kolmscan::ProbeResult::Outcome::busy;
  const std::vector<kolmscan::Row> rows = {{plain("/dev/ttyS0", "", 1, "serial"), found},
                                           {plain("/p/com12", "/dev/pts/7", 12), busy}};
  const std::string table = kolmscan::table(rows);
  EXPECT_EQ(table,
            "PORT  DEVICE                  DRIVER  VID:PID  USB  MANUFACTURER  PRODUCT  SERIAL  BY-ID  BY-PATH  PROBE\n"
            "1     /dev/ttyS0              serial  -        -    -             -        -       -      -        "
            "amplifier 00000042, firmware 10, mode 1, 600 Hz, 115200 baud, tx 0x02\n"
            "12    /p/com12 -> /dev/pts/7  -       -        -    -             -        -       -      -        "
            "busy: another program has it open\n")
      << table;
  const std::string json = kolmscan::json(rows);
  EXPECT_NE(json.find("\"port\": 1, \"device\": \"/dev/ttyS0\", \"target\": null, \"driver\": \"serial\""),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("\"probe\": \"amplifier\", \"serial_number\": \"00000042\", \"firmware\": 10, \"mode\": 1, "
                      "\"rate_hz\": 600, \"tx_mode\": 2, \"baud\": 115200, \"error\": null, \"note\": null}"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("\"probe\": \"busy\", \"serial_number\": null"), std::string::npos) << json;
  EXPECT_EQ(kolmscan::json({}), "[]\n");
}

// Rules for the amplifiers found on USB adapters, by serial number or else by USB socket, numbered on.
TEST(PortList, UdevRulesLinkEachAmplifierOnAnAdapter) {
  kolmscan::ProbeResult found;
  found.outcome = kolmscan::ProbeResult::Outcome::amplifier;
  found.serial_number = "00000042";
  kolmscan::ProbeResult silent;
  silent.outcome = kolmscan::ProbeResult::Outcome::silent;
  PortInfo with_serial = plain("/dev/ttyUSB0", "", 0, "ftdi_sio");
  with_serial.vid_pid = "0403:6001";
  with_serial.serial = "A50285BI";
  PortInfo without_serial = plain("/dev/ttyACM0", "", 0, "cdc_acm");
  without_serial.vid_pid = "2341:0043";
  without_serial.usb_path = "1-1.4";
  // Two ports of one adapter share its serial number; two clones share theirs with each other.
  PortInfo dual_a = plain("/dev/ttyUSB1", "", 0, "ftdi_sio");
  dual_a.vid_pid = "0403:6010";
  dual_a.serial = "FTDUAL";
  dual_a.usb_path = "1-2";
  dual_a.usb_interface = "00";
  PortInfo dual_b = dual_a;
  dual_b.device = "/dev/ttyUSB2";
  dual_b.usb_interface = "01";
  PortInfo clone_a = plain("/dev/ttyUSB3", "", 0, "ch341");
  clone_a.vid_pid = "1a86:7523";
  clone_a.serial = "0001";
  clone_a.usb_path = "3-1";
  PortInfo clone_b = clone_a;
  clone_b.device = "/dev/ttyUSB4";
  clone_b.usb_path = "3-2";
  PortInfo odd = plain("/dev/ttyUSB5", "", 0, "ftdi_sio");
  odd.vid_pid = "0403:6001";
  odd.serial = "A\"*";  // would end the value and make it a pattern
  odd.usb_path = "1-3";
  const std::vector<kolmscan::Row> rows = {{plain("/dev/ttyS0", "", 1, "serial"), found},
                                           {with_serial, found},
                                           {with_serial, silent},
                                           {without_serial, found},
                                           {dual_a, found},
                                           {dual_b, found},
                                           {clone_a, found},
                                           {clone_b, found},
                                           {odd, found}};
  std::vector<PortInfo> listing;
  for (const kolmscan::Row& row : rows) {
    if (row.probe->outcome == kolmscan::ProbeResult::Outcome::amplifier) listing.push_back(row.port);
  }
  const std::string rules = kolmscan::udev_rules(rows, listing, 3);
  const std::string expected =
      "# amplifier 00000042 on /dev/ttyS0: not on a USB adapter, left as it is\n"
      "# amplifier 00000042 on /dev/ttyUSB0\n"
      "SUBSYSTEM==\"tty\", SUBSYSTEMS==\"usb\", ATTRS{idVendor}==\"0403\", ATTRS{idProduct}==\"6001\", "
      "ATTRS{serial}==\"A50285BI\", SYMLINK+=\"pekolm/com3\", MODE=\"0660\", GROUP=\"dialout\"\n"
      "# amplifier 00000042 on /dev/ttyACM0 (adapter without a serial number: keep it in USB 1-1.4)\n"
      "SUBSYSTEM==\"tty\", SUBSYSTEMS==\"usb\", ATTRS{idVendor}==\"2341\", ATTRS{idProduct}==\"0043\", "
      "KERNELS==\"1-1.4\", SYMLINK+=\"pekolm/com4\", MODE=\"0660\", GROUP=\"dialout\"\n"
      "# amplifier 00000042 on /dev/ttyUSB1\n"
      "SUBSYSTEM==\"tty\", SUBSYSTEMS==\"usb\", ATTRS{idVendor}==\"0403\", ATTRS{idProduct}==\"6010\", "
      "ATTRS{serial}==\"FTDUAL\", ENV{ID_USB_INTERFACE_NUM}==\"00\", SYMLINK+=\"pekolm/com5\", MODE=\"0660\", "
      "GROUP=\"dialout\"\n"
      "# amplifier 00000042 on /dev/ttyUSB2\n"
      "SUBSYSTEM==\"tty\", SUBSYSTEMS==\"usb\", ATTRS{idVendor}==\"0403\", ATTRS{idProduct}==\"6010\", "
      "ATTRS{serial}==\"FTDUAL\", ENV{ID_USB_INTERFACE_NUM}==\"01\", SYMLINK+=\"pekolm/com6\", MODE=\"0660\", "
      "GROUP=\"dialout\"\n"
      "# amplifier 00000042 on /dev/ttyUSB3 (adapter whose serial number another adapter shares: keep it in USB "
      "3-1)\n"
      "SUBSYSTEM==\"tty\", SUBSYSTEMS==\"usb\", ATTRS{idVendor}==\"1a86\", ATTRS{idProduct}==\"7523\", "
      "KERNELS==\"3-1\", SYMLINK+=\"pekolm/com7\", MODE=\"0660\", GROUP=\"dialout\"\n"
      "# amplifier 00000042 on /dev/ttyUSB4 (adapter whose serial number another adapter shares: keep it in USB "
      "3-2)\n"
      "SUBSYSTEM==\"tty\", SUBSYSTEMS==\"usb\", ATTRS{idVendor}==\"1a86\", ATTRS{idProduct}==\"7523\", "
      "KERNELS==\"3-2\", SYMLINK+=\"pekolm/com8\", MODE=\"0660\", GROUP=\"dialout\"\n"
      "# amplifier 00000042 on /dev/ttyUSB5 (adapter whose serial number a rule cannot hold: keep it in USB 1-3)\n"
      "SUBSYSTEM==\"tty\", SUBSYSTEMS==\"usb\", ATTRS{idVendor}==\"0403\", ATTRS{idProduct}==\"6001\", "
      "KERNELS==\"1-3\", SYMLINK+=\"pekolm/com9\", MODE=\"0660\", GROUP=\"dialout\"\n";
  ASSERT_GE(rules.size(), expected.size());
  EXPECT_EQ(rules.substr(rules.size() - expected.size()), expected) << rules;
  EXPECT_EQ(rules.rfind("# ", 0), 0U) << "how to install them comes first";
  // Asked for one clone, or one port of the dual adapter, alone: the others of the system still count.
  for (const std::size_t alone : {4, 6}) {
    const std::string rule = kolmscan::udev_rules({rows[alone]}, listing, 1);
    EXPECT_NE(rule.find(alone == 4 ? "ENV{ID_USB_INTERFACE_NUM}==\"00\"" : "KERNELS==\"3-1\""), std::string::npos)
        << rule;
  }
  // Two ports on one interface of one adapter: no rule could tell them apart.
  PortInfo twin = dual_a;
  twin.device = "/dev/ttyUSB9";
  listing.push_back(twin);
  EXPECT_NE(kolmscan::udev_rules({rows[4]}, listing, 1).find("more ports than a rule can tell apart"),
            std::string::npos);
}

// A port without a number gets a free one, in a folder of links that PEKOLM_PORT_DIR then names.
TEST(PortList, PortsWithoutANumberAreLinkedForTheProbe) {
  const char* before = ::getenv("PEKOLM_PORT_DIR");
  const std::string saved = before != nullptr ? before : "";
  std::vector<int> numbers;
  EXPECT_EQ(kolmscan::link_for_probing({plain("/dev/ttyS0", "", 1)}, numbers), "");
  EXPECT_EQ(numbers, std::vector<int>{1});

  // In $TMPDIR, and a relative path is taken from where kolmscan runs, not from the folder of links.
  const testing_support::ScratchFolder temporary("kolmscan-tmp");
  const char* tmpdir = ::getenv("TMPDIR");
  const std::string saved_tmpdir = tmpdir != nullptr ? tmpdir : "";
  ::setenv("TMPDIR", temporary.path().c_str(), 1);
  const std::string folder = kolmscan::link_for_probing(
      {plain("/dev/ttyUSB0", "", 0), plain("/p/com255", "/dev/pts/3", 255), plain("dev/ttyACM0", "", 0)}, numbers);
  if (saved_tmpdir.empty()) {
    ::unsetenv("TMPDIR");
  } else {
    ::setenv("TMPDIR", saved_tmpdir.c_str(), 1);
  }
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(fs::path(folder).parent_path(), temporary.path());
  EXPECT_EQ(numbers, (std::vector<int>{254, 255, 253}));
  EXPECT_EQ(fs::read_symlink(folder + "/com254"), "/dev/ttyUSB0");
  EXPECT_EQ(fs::read_symlink(folder + "/com255"), "/p/com255");
  EXPECT_EQ(fs::read_symlink(folder + "/com253"), fs::current_path() / "dev/ttyACM0");
  EXPECT_STREQ(::getenv("PEKOLM_PORT_DIR"), folder.c_str());
  kolmscan::remove_probe_links(folder);
  EXPECT_FALSE(fs::exists(folder));
  if (saved.empty()) {
    ::unsetenv("PEKOLM_PORT_DIR");
  } else {
    ::setenv("PEKOLM_PORT_DIR", saved.c_str(), 1);
  }
}

}  // namespace
