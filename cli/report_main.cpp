// orbelan-report: the survey engine from the command line.

#include <unistd.h>

#include <clocale>
#include <iostream>
#include <string>
#include <vector>

#include "platform/day_number.h"
#include "cli/command_start.h"
#include "cli/report_command.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  std::ios::sync_with_stdio(false);

  volatile std::sig_atomic_t* interrupted = orbelan::CatchInterrupt();
  // The settings the main window would use.
  orbelan::Settings settings = orbelan::LoadProgramSettings();

  orbelan::ReportContext context;
  context.settings = &settings;
  context.out = &std::cout;
  context.err = &std::cerr;
  context.showProgress = isatty(STDERR_FILENO) != 0;
  context.interrupted = interrupted;
  context.today = orbelan::TodayDayNumber();

  const std::vector<std::string> args(argv + 1, argv + argc);
  return orbelan::RunReport(args, context);
}
