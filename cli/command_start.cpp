#include "cli/command_start.h"

#include "platform/system_paths.h"

namespace orbelan {
namespace {

volatile std::sig_atomic_t interrupted = 0;

void OnInterrupt(int) { interrupted = 1; }

}  // namespace

volatile std::sig_atomic_t* CatchInterrupt() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  action.sa_flags = SA_RESETHAND;  // a second Ctrl+C ends the program at once
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  return &interrupted;
}

Settings LoadProgramSettings() {
  Settings settings;
  settings.SetProgramDir(ProgramPath());
  settings.LoadSettings();
  return settings;
}

}  // namespace orbelan
