/* A program on an installed pekolm, as its users build one: activates a port and reads the amplifier's
 * firmware version. Usage: firmware_check PORT EXPECTED_FIRMWARE; exits with 0 when the version is the
 * expected one (kolmsim --firmware sets it), so that a run shows the header, the link and the loaded
 * library all work. */
#include <pekolm.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  int port, expected, firmware, version;
  if (argc != 3) {
    fprintf(stderr, "usage: firmware_check PORT EXPECTED_FIRMWARE\n");
    return 2;
  }
  port = atoi(argv[1]);
  expected = atoi(argv[2]);
  version = KolmdllVersion();
  if (KolmactivateExtended(port, 115200, 64, 0) != 0) {
    fprintf(stderr, "firmware_check: port %d could not be opened, error 0x%X\n", port, KolmgetLastError(port));
    return 1;
  }
  firmware = KolmfirmwareVersion(port);
  Kolmrelease(port);
  printf("pekolm %d.%d, firmware %d\n", version >> 16, version & 0xFFFF, firmware);
  return firmware == expected ? 0 : 1;
}
