"""pekolm: four-channel measuring amplifiers on serial ports, through the pekolm library (ctypes).

    import pekolm
    with pekolm.Amplifier(1, 115200) as amp:
        values = amp.read()              # numpy array (n, 4) of normalised values

A port is a number 1..255 or a device path: pekolm.Amplifier("/dev/ttyUSB0").

Also: PekolmError (the library's error codes), library_version(), list_ports() and scan() for the serial
ports and the amplifiers on them (through the program kolmscan), read_recording() for the files kolmrec
writes; `python3 -m pekolm plot FILE.csv` draws one, `python3 -m pekolm scan --probe` finds the amplifiers.
pekolm.mqtt.subscribe() takes the values kolmrec publishes to an MQTT broker (with paho-mqtt), raising
MqttError; `python3 -m pekolm collect URL -o FILE.csv` writes them into a recording.
The library is found through $PEKOLM_LIBRARY, else beside this package, else on the system's library path;
it is loaded on first use, so reading and plotting recordings need no library.
"""

from ._library import LibraryNotFoundError, library, library_version
from .amplifier import DEFAULT_BUFFER_SIZE, MAX_BUFFER_SIZE, Amplifier
from .errors import PekolmError
from .mqtt import MqttError
from .recording import Gap, PortInfo, Recording, RecordingFormatError, read_recording
from .scanner import KolmscanError, KolmscanNotFoundError, ProbedPort, SerialPort, list_ports, scan

__version__ = "1.9"

__all__ = ["Amplifier", "DEFAULT_BUFFER_SIZE", "Gap", "KolmscanError", "KolmscanNotFoundError", "LibraryNotFoundError",
           "MAX_BUFFER_SIZE", "MqttError", "PekolmError", "PortInfo", "ProbedPort", "Recording", "RecordingFormatError",
           "SerialPort", "library", "library_version", "list_ports", "read_recording", "scan"]
