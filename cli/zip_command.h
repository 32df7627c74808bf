#pragma once
// orbelan-zip: Zip folder and Undo zip from the command line, on the same core code and
// with the same messages as the window. Parsing and output live here, apart from main(),
// so the core tests can drive them.

#include <csignal>
#include <iosfwd>
#include <string>
#include <vector>

#include "archive/folder_zipper.h"
#include "archive/zip_undo.h"

namespace orbelan {

struct Settings;

// Exit statuses.
inline constexpr int kZipDone = 0;
inline constexpr int kZipNothingChanged = 1;  // refused, failed, cancelled or declined
inline constexpr int kZipUsage = 2;
inline constexpr int kZipSomeStayed = 3;      // done, but some files stayed where they were

struct ZipCommandContext {
  const Settings* settings = nullptr;
  std::istream* in = nullptr;
  std::ostream* out = nullptr;
  std::ostream* err = nullptr;
  bool terminal = false;  // standard input and error are a terminal: ask, show progress
  volatile std::sig_atomic_t* interrupted = nullptr;
  ZipOptions zip;    // seams for tests; defaults otherwise
  UndoOptions undo;
};

int RunZipCommand(const std::vector<std::string>& args, ZipCommandContext& context);

}  // namespace orbelan
