// The receive thread of an open port: the only reader of the port. It waits until bytes arrive (or a stop
// or clear request wakes it), reads as many as the frame being assembled still lacks, and hands them to
// the frame decoder, which stores values in the rings and answers in the answer buffer.
#pragma once

#include <memory>

#include "device.h"

namespace pekolm {

// Starts the thread; it keeps the device alive until it ends. Throws std::system_error when no thread
// can be started.
void start_receive_thread(const std::shared_ptr<Device>& device);

}  // namespace pekolm
