// Start-up: connection dialog, identification of the amplifier, start of the transmission.
#pragma once

#include "console.h"

namespace kolmconsole {

// Runs the start-up dialog. False when the port could not be opened (the user has been told and has
// pressed a key); true when the transmission has been started and the display loop may begin.
bool start_up(Console& console);

}  // namespace kolmconsole
