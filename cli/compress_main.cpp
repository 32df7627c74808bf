// orbelan-compress: Compress in place and Decompress in place from the command line.

#include <unistd.h>

#include <clocale>
#include <iostream>
#include <string>
#include <vector>

#include "cli/command_start.h"
#include "cli/compress_command.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");

  volatile std::sig_atomic_t* interrupted = orbelan::CatchInterrupt();
  // The settings the main window would use: which files count, which folders a subtree has.
  orbelan::Settings settings = orbelan::LoadProgramSettings();

  orbelan::CompressCommandContext context;
  context.settings = &settings;
  context.in = &std::cin;
  context.out = &std::cout;
  context.err = &std::cerr;
  context.terminal = isatty(STDIN_FILENO) != 0 && isatty(STDERR_FILENO) != 0;
  context.interrupted = interrupted;

  const std::vector<std::string> args(argv + 1, argv + argc);
  return orbelan::RunCompressCommand(args, context);
}
