// The single-key commands of the display loop and the table that binds them to their keys.
#pragma once

#include "console.h"

namespace kolmconsole {

using Command = void (*)(Console&);

// The command bound to a key, or null for a key without one (q included: it only ends the loop).
Command command_for_key(int key);

// Recording and the commands that compute with the norm table (recording.cpp, dialogs_norm.cpp).
void command_recording(Console& console);    // a, A
void command_calibration(Console& console);  // k
void command_norm(Console& console);         // n
void command_offset(Console& console);       // o

// Commands that pass values to and from the library (dialogs_parameters.cpp).
void command_scale(Console& console);               // c
void command_digital_io(Console& console);          // d
void command_data_rate(Console& console);           // f
void command_gain(Console& console);                // g
void command_load_set(Console& console);            // l
void command_mode(Console& console);                // m
void command_read_value(Console& console);          // r
void command_save_set(Console& console);            // s
void command_transmission_mode(Console& console);   // t
void command_unit(Console& console);                // u
void command_value_query(Console& console);         // v
void command_threshold(Console& console);           // w
void command_stop_transmission(Console& console);   // x
void command_start_transmission(Console& console);  // y
void command_zero(Console& console);                // z

}  // namespace kolmconsole
