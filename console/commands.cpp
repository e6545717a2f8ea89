// Which key runs which command. Keys are case-sensitive; only the recording has an upper-case twin.
#include "commands.h"

namespace kolmconsole {

namespace {

struct Binding {
  char key;
  Command command;
};

constexpr Binding bindings[] = {
    {'a', command_recording},
    {'A', command_recording},
    {'c', command_scale},
    {'d', command_digital_io},
    {'f', command_data_rate},
    {'g', command_gain},
    {'k', command_calibration},
    {'l', command_load_set},
    {'m', command_mode},
    {'n', command_norm},
    {'o', command_offset},
    {'r', command_read_value},
    {'s', command_save_set},
    {'t', command_transmission_mode},
    {'u', command_unit},
    {'v', command_value_query},
    {'w', command_threshold},
    {'x', command_stop_transmission},
    {'y', command_start_transmission},
    {'z', command_zero},
};

}  // namespace

Command command_for_key(int key) {
  for (const Binding& binding : bindings) {
    if (binding.key == key) return binding.command;
  }
  return nullptr;
}

}  // namespace kolmconsole
