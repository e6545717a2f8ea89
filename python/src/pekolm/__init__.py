"""pekolm: four-channel measuring amplifiers on serial ports, through the pekolm library (ctypes).

    import pekolm
    with pekolm.Amplifier(1, 115200) as amp:
        values = amp.read()              # numpy array (n, 4) of normalised values

Also: PekolmError (the library's error codes), library_version(), read_recording() for the files kolmrec
writes, and `python3 -m pekolm plot FILE.csv` to draw one. The library is found through $PEKOLM_LIBRARY,
else beside this package, else on the system's library path; it is loaded on first use, so reading and
plotting recordings need no library.
"""

from ._library import LibraryNotFoundError, library, library_version
from .amplifier import DEFAULT_BUFFER_SIZE, MAX_BUFFER_SIZE, Amplifier
from .errors import PekolmError
from .recording import Gap, PortInfo, Recording, RecordingFormatError, read_recording

__version__ = "1.9"

__all__ = ["Amplifier", "DEFAULT_BUFFER_SIZE", "Gap", "LibraryNotFoundError", "MAX_BUFFER_SIZE", "PekolmError",
           "PortInfo", "Recording", "RecordingFormatError", "library", "library_version", "read_recording"]
