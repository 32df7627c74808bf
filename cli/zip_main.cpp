// orbelan-zip: Zip folder and Undo zip from the command line.

#include <unistd.h>

#include <clocale>
#include <iostream>
#include <string>
#include <vector>

#include "cli/zip_command.h"
#include "cli/command_start.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");

  volatile std::sig_atomic_t* interrupted = orbelan::CatchInterrupt();
  // The settings the main window would use.
  orbelan::Settings settings = orbelan::LoadProgramSettings();

  orbelan::ZipCommandContext context;
  context.settings = &settings;
  context.in = &std::cin;
  context.out = &std::cout;
  context.err = &std::cerr;
  context.terminal = isatty(STDIN_FILENO) != 0 && isatty(STDERR_FILENO) != 0;
  context.interrupted = interrupted;

  const std::vector<std::string> args(argv + 1, argv + argc);
  return orbelan::RunZipCommand(args, context);
}
