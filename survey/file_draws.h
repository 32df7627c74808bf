#pragma once
// A few of a folder's files, drawn while the scan counts them, so that the saving of a
// small folder can later be estimated from those files alone: listing and sizing every
// file of thousands of small folders a second time would cost about as much as the scan.
// Each draw is an independent weighted reservoir of one: file i replaces the draw's file
// with probability size_i / (bytes offered so far), which leaves the draw on any file
// with probability proportional to its bytes, whatever the order of the directory.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace orbelan {

struct FileDraws {
  static constexpr int kCount = 4;
  std::string Names;                // the drawn files' names, each ended by a NUL, in draw order
  std::array<std::int64_t, kCount> Sizes{};  // each drawn file's size when it was counted
  std::int64_t RegularBytes = 0;    // every regular file the draws were made from
  std::int64_t OtherBytes = 0;      // links and other entries counted beside them: never drawn
  // The name of draw j (a file may be drawn more than once).
  std::string_view Name(std::size_t j) const;
};

// Which folders keep their draws: those whose drawn-from bytes (regular and other) lie in
// (Above, UpTo]. UpTo 0: no drawing at all.
struct FileDrawLimits {
  std::int64_t Above = 0;
  std::int64_t UpTo = 0;
  std::uint64_t Seed = 1;
};

// One per counting thread, reused folder after folder.
class FileDrawer {
 public:
  explicit FileDrawer(const FileDrawLimits& limits) : limits_(limits) {}
  bool On() const { return limits_.UpTo > 0; }
  void Begin();
  // A regular file counted into the folder's unzipped bytes.
  void Offer(std::string_view name, std::int64_t size);
  // Any other entry counted there (a link, a pipe): its bytes, never read.
  void Other(std::int64_t size);
  // The folder's draws, or nothing when it is outside the limits or has no bytes to draw.
  std::shared_ptr<const FileDraws> Finish();

 private:
  FileDrawLimits limits_;
  std::int64_t regular_ = 0, other_ = 0;
  std::string names_[FileDraws::kCount];
  std::int64_t sizes_[FileDraws::kCount] = {};
};

}  // namespace orbelan
