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
#include <utility>
#include <vector>

namespace orbelan {

struct FileDraws {
  static constexpr int kCount = 4;
  std::string Names;                // the drawn files' names, each ended by a NUL, in draw order
  std::array<std::int64_t, kCount> Sizes{};  // each drawn file's size when it was counted
  std::int64_t RegularBytes = 0;    // every regular file the draws were made from
  std::int64_t OtherBytes = 0;      // links and other entries counted beside them: never drawn
  // The name of draw j (a file may be drawn more than once).
  std::string_view Name(std::size_t j) const;

  // Small folders: the files a reader need not open, by NameHash, sorted: every empty file
  // (it saves nothing), and the short files (FileDrawLimits::ShortFile) beyond a simple
  // random sample of them. Those are known by their count and bytes alone; the sample is
  // read, and what the others save is estimated from it.
  std::vector<std::uint64_t> Skipped;
  std::int64_t SkippedShortFiles = 0, SkippedShortBytes = 0;  // empty files not among them
  std::int64_t SampledShortFiles = 0;  // the sample: short files that are to be read
  // The sample's files by NameHash and size, lowest hash first: any first few of them are a
  // simple random sample too, so a reader may read fewer where the folder needs fewer.
  std::vector<std::pair<std::uint64_t, std::int64_t>> Sample;
  // The larger files (over ShortFile bytes) by NameHash and size, lowest hash first: any
  // first few of them are a simple random sample of them, which a reader of a folder of many
  // may read instead of them all (estimate/saving_small_larger.h).
  std::vector<std::pair<std::uint64_t, std::int64_t>> Larger;
  bool Skips(std::string_view name, std::uint64_t seed) const;

  // Folders the estimate samples (FileDrawLimits::ListAbove to ListUpTo): every counted
  // regular file as the scan stat'ed it, in the order of the directory (names each ended by
  // a NUL; sizes and allocated bytes), and the bytes of the other entries, so that the
  // estimate need not list the folder and stat every file again. HasListing false: none kept.
  // Folders the estimate reads as they are listed (up to FileDrawLimits::NamesUpTo) keep
  // the names alone (HasNames, Listed empty): their reader learns each file's size from
  // reading it, and needs only to be spared listing the folder again.
  struct ListedFile {
    std::int64_t Size = 0, Allocated = -1;
  };
  bool HasListing = false;
  bool HasNames = false;  // ListedNames and ListedOtherBytes hold (also when HasListing)
  std::string ListedNames;
  std::vector<ListedFile> Listed;
  std::int64_t ListedOtherBytes = 0;
};

// The hash of a file's name that its draws and its place in the sample of short files come
// from: uniform over 64 bits, the same in every scan of the same seed.
std::uint64_t NameHash(std::uint64_t seed, std::string_view name);

// Which folders keep their draws: those whose drawn-from bytes (regular and other) lie in
// (Above, UpTo]. UpTo 0: no drawing at all.
struct FileDrawLimits {
  std::int64_t Above = 0;
  std::int64_t UpTo = 0;
  std::uint64_t Seed = 1;
  // Folders whose bytes lie in (ShortAbove, ShortUpTo] keep which files need not be read
  // (FileDraws::Skipped): empty files, and files of 1 to ShortFile bytes beyond the
  // ShortSample of them with the lowest name hashes. ShortUpTo 0: none.
  std::int64_t ShortAbove = 0;
  std::int64_t ShortUpTo = 0;
  std::int64_t ShortFile = 0;
  int ShortSample = 0;
  // Those folders keep their larger files (FileDraws::Larger) when they have at least this
  // many: a reader reads fewer whole anyway. 0: never.
  int LargerFrom = 0;
  // Folders whose bytes lie in (ListAbove, ListUpTo] and that hold at most ListMostFiles
  // counted entries keep their listing (FileDraws::Listed). ListUpTo 0: none.
  std::int64_t ListAbove = 0;
  std::int64_t ListUpTo = 0;
  std::size_t ListMostFiles = 0;
  // Folders of some bytes up to NamesUpTo (at most ListUpTo) and at most ListMostFiles
  // counted entries keep the names of their regular files (FileDraws::HasNames). 0: none.
  std::int64_t NamesUpTo = 0;
};

// One per counting thread, reused folder after folder.
class FileDrawer {
 public:
  explicit FileDrawer(const FileDrawLimits& limits) : limits_(limits) {}
  bool On() const { return limits_.UpTo > 0 || limits_.ShortUpTo > 0 || limits_.ListUpTo > 0; }
  void Begin();
  // A regular file counted into the folder's unzipped bytes, with its allocated bytes.
  void Offer(std::string_view name, std::int64_t size, std::int64_t allocated = -1);
  // Any other entry counted there (a link, a pipe): its bytes, never read.
  void Other(std::int64_t size);
  // The folder's draws, or nothing when it is outside the limits or has no bytes to draw.
  std::shared_ptr<const FileDraws> Finish();

 private:
  FileDrawLimits limits_;
  std::int64_t regular_ = 0, other_ = 0;
  std::string names_[FileDraws::kCount];
  std::int64_t sizes_[FileDraws::kCount] = {};
  // Empty and short files of the folder so far, and larger ones: name hash and size.
  std::vector<std::pair<std::uint64_t, std::int64_t>> short_, larger_;
  bool shortOverflow_ = false;  // too many to keep: the folder is read whole
  void List(std::string_view name, std::int64_t size, std::int64_t allocated);
  // The folder's listing while it may still be kept.
  std::string listedNames_;
  std::vector<FileDraws::ListedFile> listed_;
  std::size_t entries_ = 0;
  bool listOverflow_ = false;
};

}  // namespace orbelan
