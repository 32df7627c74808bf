#pragma once
// What every command line does first: Ctrl+C noted (a second one ends the program at once)
// and the settings the main window would use.

#include <csignal>

#include "settings/settings.h"

namespace orbelan {

// Installs the SIGINT handler; the flag it returns turns 1 at the first Ctrl+C.
volatile std::sig_atomic_t* CatchInterrupt();

// The settings of the program's folder or the user's config folder, as the window loads them.
Settings LoadProgramSettings();

}  // namespace orbelan
