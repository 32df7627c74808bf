// orbelan-zip: Zip folder and Undo zip from the command line.

#include <unistd.h>

#include <clocale>
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "cli/zip_command.h"
#include "platform/system_paths.h"
#include "settings/settings.h"

namespace {

volatile std::sig_atomic_t interrupted = 0;

void OnInterrupt(int) { interrupted = 1; }

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");

  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  action.sa_flags = SA_RESETHAND;  // a second Ctrl+C ends the program at once
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);

  // The settings the main window would use: the same files count as unzipped.
  orbelan::Settings settings;
  settings.SetProgramDir(orbelan::ProgramPath());
  settings.LoadSettings();

  orbelan::ZipCommandContext context;
  context.settings = &settings;
  context.in = &std::cin;
  context.out = &std::cout;
  context.err = &std::cerr;
  context.terminal = isatty(STDIN_FILENO) != 0 && isatty(STDERR_FILENO) != 0;
  context.interrupted = &interrupted;

  const std::vector<std::string> args(argv + 1, argv + argc);
  return orbelan::RunZipCommand(args, context);
}
