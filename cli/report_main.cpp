// orbelan-report: the survey engine from the command line.

#include <unistd.h>

#include <clocale>
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "platform/day_number.h"
#include "platform/system_paths.h"
#include "settings/settings.h"
#include "cli/report_command.h"

namespace {

volatile std::sig_atomic_t interrupted = 0;

void OnInterrupt(int) { interrupted = 1; }

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  std::ios::sync_with_stdio(false);

  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  action.sa_flags = SA_RESETHAND;  // a second Ctrl+C ends the program at once
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);

  // The settings the main window would use.
  orbelan::Settings settings;
  settings.SetProgramDir(orbelan::ProgramPath());
  settings.LoadSettings();

  orbelan::ReportContext context;
  context.settings = &settings;
  context.out = &std::cout;
  context.err = &std::cerr;
  context.showProgress = isatty(STDERR_FILENO) != 0;
  context.interrupted = &interrupted;
  context.today = orbelan::TodayDayNumber();

  const std::vector<std::string> args(argv + 1, argv + argc);
  return orbelan::RunReport(args, context);
}
