#include "survey/file_draws.h"

#include "survey/figures.h"
#include "survey/random_bits.h"

namespace orbelan {

std::string_view FileDraws::Name(std::size_t j) const {
  std::size_t at = 0;
  for (; j > 0; --j) at = Names.find('\0', at) + 1;
  return std::string_view(Names.c_str() + at);
}

void FileDrawer::Begin() {
  regular_ = other_ = 0;
  for (int j = 0; j < FileDraws::kCount; ++j) {
    names_[j].clear();
    sizes_[j] = 0;
  }
}

void FileDrawer::Offer(std::string_view name, std::int64_t size) {
  if (!On() || size <= 0) return;  // an empty file is never drawn: it saves nothing
  AddSize(regular_, size);
  if (regular_ > limits_.UpTo) return;  // too big to keep draws: no need to make them
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
  if (On()) AddSize(other_, size);
}

std::shared_ptr<const FileDraws> FileDrawer::Finish() {
  std::int64_t all = regular_;
  AddSize(all, other_);
  if (!On() || regular_ <= 0 || all <= limits_.Above || all > limits_.UpTo) return nullptr;
  auto draws = std::make_shared<FileDraws>();
  for (int j = 0; j < FileDraws::kCount; ++j) {
    draws->Names.append(names_[j]);
    draws->Names.push_back('\0');
    draws->Sizes[static_cast<std::size_t>(j)] = sizes_[j];
  }
  draws->RegularBytes = regular_;
  draws->OtherBytes = other_;
  return draws;
}

}  // namespace orbelan
