// A recording read back into the ports' counter checks: the CSV of kolmrec, or of the collector.
#pragma once

#include <string>

#include "frame_streamer.h"

namespace bench {

// Every row into its port's CounterCheck; false when a row is not one the recorders write, or the file has
// no column line. kolmrec's first column is the port; the collector's is a stream number, which its
// "# port P node port: N" lines map to the port.
bool check_recording_rows(const std::string& path, const StreamedPorts& ports);

}  // namespace bench
