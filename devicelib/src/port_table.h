// The port table: one slot per port number 1..255, and the two library-wide fields that hold the error of
// a failed activation.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "device.h"

namespace pekolm::ports {

inline constexpr int first_port = 1;
inline constexpr int last_port = 255;

inline bool in_range(int port) { return port >= first_port && port <= last_port; }

// The error of the most recent failed activation, or of a call on a port that is not open.
extern std::atomic<std::uint32_t> library_error;
// The port of the most recent activation; 0 once one succeeds.
extern std::atomic<int> activation_port;

// The device of an open port, or null: the port check every operation starts with.
std::shared_ptr<Device> find_open(int port);
// Whether the slot holds a device (open or being activated).
bool taken(int port);
// Places a device in a free slot; false when the slot is taken (open or being activated).
bool reserve(int port, std::shared_ptr<Device> device);
// Empties the slot if it still holds this device.
void vacate(int port, const Device* device);
// Notes a released device whose receive thread was left behind with the port.
void strand(int port, const std::shared_ptr<Device>& device);
// The devices in slots that are open, in slot order (for unloading).
void for_each_open(const std::function<void(int port)>& visit);

}  // namespace pekolm::ports
