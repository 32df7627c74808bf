#include "scan/file_draws.h"

#include <algorithm>

#include "numbers/random_bits.h"
#include "numbers/saturating_sum.h"

namespace orbelan {

std::string_view FileDraws::Name(std::size_t j) const {
  std::size_t at = 0;
  for (; j > 0; --j) at = Names.find('\0', at) + 1;
  return std::string_view(Names.c_str() + at);
}

std::uint64_t NameHash(std::uint64_t seed, std::string_view name) {
  std::uint64_t state = FnvStart(seed);
  for (unsigned char c : name) state = FnvAdd(state, c);
  return SplitMix64(state);
}

bool FileDraws::Skips(std::string_view name, std::uint64_t seed) const {
  return !Skipped.empty() && std::binary_search(Skipped.begin(), Skipped.end(), NameHash(seed, name));
}

namespace {
// Short files one folder may hold for the sample to be kept; a folder of more is read whole.
constexpr std::size_t kMostShortFiles = 1 << 16;
}  // namespace

void FileDrawer::Begin() {
  short_.clear();
  larger_.clear();
  shortOverflow_ = false;
  regular_ = other_ = 0;
  listedNames_.clear();
  listed_.clear();
  entries_ = 0;
  listOverflow_ = false;
  for (int j = 0; j < FileDraws::kCount; ++j) {
    names_[j].clear();
    sizes_[j] = 0;
  }
}

// Keeps the folder's listing while it may still be one to keep; past that, lets it go.
void FileDrawer::List(std::string_view name, std::int64_t size, std::int64_t allocated) {
  if (limits_.ListUpTo <= 0 || listOverflow_) return;
  std::int64_t all = regular_;
  AddSize(all, other_);
  if (++entries_ > limits_.ListMostFiles || all > limits_.ListUpTo) {
    listOverflow_ = true;
    std::string().swap(listedNames_);
    std::vector<FileDraws::ListedFile>().swap(listed_);
    return;
  }
  if (size < 0) return;  // another entry: its bytes are other_
  listedNames_.append(name);
  listedNames_.push_back('\0');
  listed_.push_back({size, allocated});
}

void FileDrawer::Offer(std::string_view name, std::int64_t size, std::int64_t allocated) {
  if (!On()) return;
  List(name, std::max<std::int64_t>(size, 0), allocated);
  if (limits_.ShortUpTo > 0 && size <= limits_.ShortFile && !shortOverflow_) {
    if (short_.size() < kMostShortFiles)
      short_.emplace_back(NameHash(limits_.Seed, name), std::max<std::int64_t>(size, 0));
    else
      shortOverflow_ = true;
  }
  if (size <= 0) return;  // an empty file is never drawn: it saves nothing
  AddSize(regular_, size);
  // Larger files are kept only while the folder may still be small: a folder of a million
  // files is never read as one.
  if (limits_.LargerFrom > 0 && limits_.ShortUpTo > 0 && size > limits_.ShortFile && regular_ <= limits_.ShortUpTo)
    larger_.emplace_back(NameHash(limits_.Seed, name), size);
  if (limits_.UpTo <= 0 || regular_ > limits_.UpTo) return;  // no draws kept: none made
  const double share = static_cast<double>(size) / static_cast<double>(regular_);
  // The uniform numbers that decide a file's draws come from its name: the same file in the
  // same folder is drawn the same way in every scan, on any thread.
  std::uint64_t state = FnvStart(limits_.Seed);
  for (unsigned char c : name) state = FnvAdd(state, c);
  for (int j = 0; j < FileDraws::kCount; ++j) {
    if (UnitInterval(SplitMix64(state)) < share) {
      names_[j].assign(name);
      sizes_[j] = size;
    }
  }
}

void FileDrawer::Other(std::int64_t size) {
  if (!On()) return;
  AddSize(other_, size);
  List({}, -1, -1);
}

std::shared_ptr<const FileDraws> FileDrawer::Finish() {
  std::int64_t all = regular_;
  AddSize(all, other_);
  std::shared_ptr<FileDraws> draws;
  if (limits_.UpTo > 0 && regular_ > 0 && all > limits_.Above && all <= limits_.UpTo) {
    draws = std::make_shared<FileDraws>();
    for (int j = 0; j < FileDraws::kCount; ++j) {
      draws->Names.append(names_[j]);
      draws->Names.push_back('\0');
      draws->Sizes[static_cast<std::size_t>(j)] = sizes_[j];
    }
    draws->RegularBytes = regular_;
    draws->OtherBytes = other_;
  }
  const bool keepListing = all > limits_.ListAbove && all <= limits_.ListUpTo;
  const bool keepNames = all > 0 && all <= std::min(limits_.NamesUpTo, limits_.ListUpTo);
  if (limits_.ListUpTo > 0 && !listOverflow_ && (keepListing || keepNames)) {
    if (!draws) draws = std::make_shared<FileDraws>();
    draws->HasListing = keepListing;
    draws->HasNames = true;
    // Copied to their own size (the drawer's buffers grow by doubling and are reused):
    // thousands of folders keep these while the records live.
    draws->ListedNames.assign(listedNames_.data(), listedNames_.size());
    if (keepListing) draws->Listed.assign(listed_.begin(), listed_.end());
    draws->ListedOtherBytes = other_;
  }
  if (limits_.ShortUpTo > 0 && !shortOverflow_ && all > limits_.ShortAbove && all <= limits_.ShortUpTo) {
    // The sample: the short files with the lowest name hashes, a simple random sample of
    // them whatever the order of the directory. Empty files are all skipped.
    auto firstShort = std::partition(short_.begin(), short_.end(), [](const auto& f) { return f.second == 0; });
    const auto sample = static_cast<std::size_t>(std::max(limits_.ShortSample, 1));
    const auto shorts = static_cast<std::size_t>(short_.end() - firstShort);
    if (shorts > sample) std::nth_element(firstShort, firstShort + static_cast<std::ptrdiff_t>(sample), short_.end());
    const auto skippedFrom = shorts > sample ? firstShort + static_cast<std::ptrdiff_t>(sample) : short_.end();
    if (limits_.LargerFrom > 0 && larger_.size() >= static_cast<std::size_t>(limits_.LargerFrom)) {
      if (!draws) draws = std::make_shared<FileDraws>();
      draws->Larger = larger_;
      std::sort(draws->Larger.begin(), draws->Larger.end());
    }
    if (!short_.empty()) {
      if (!draws) draws = std::make_shared<FileDraws>();
      for (auto it = short_.begin(); it != firstShort; ++it) draws->Skipped.push_back(it->first);
      for (auto it = skippedFrom; it != short_.end(); ++it) {
        draws->Skipped.push_back(it->first);
        ++draws->SkippedShortFiles;
        draws->SkippedShortBytes += it->second;
      }
      draws->SampledShortFiles = static_cast<std::int64_t>(std::min(shorts, sample));
      draws->Sample.assign(firstShort, skippedFrom);
      std::sort(draws->Sample.begin(), draws->Sample.end());
      std::sort(draws->Skipped.begin(), draws->Skipped.end());
    }
  }
  return draws;
}

}  // namespace orbelan
