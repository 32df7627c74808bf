#pragma once
// orbelan-compress: Compress in place and Decompress in place from the command line, on
// the same core code and with the same messages as the window. Parsing and output live
// here, apart from main(), so the core tests can drive them.

#include <csignal>
#include <iosfwd>
#include <string>
#include <vector>

#include "inplace/inplace_compressor.h"

namespace orbelan {

struct Settings;

// Exit statuses, as orbelan-zip's.
inline constexpr int kCompressDone = 0;
inline constexpr int kCompressNothingChanged = 1;  // refused, not on btrfs, declined, or nothing to do
inline constexpr int kCompressUsage = 2;
inline constexpr int kCompressSomeLeft = 3;        // done, but some files were skipped or failed, or it was stopped

struct CompressCommandContext {
  const Settings* settings = nullptr;
  std::istream* in = nullptr;
  std::ostream* out = nullptr;
  std::ostream* err = nullptr;
  bool terminal = false;  // standard input and error are a terminal: ask, show progress
  volatile std::sig_atomic_t* interrupted = nullptr;
  InplaceOptions options;  // seams for tests; the command line sets level and shared
};

int RunCompressCommand(const std::vector<std::string>& args, CompressCommandContext& context);

}  // namespace orbelan
