#include "survey/file_draws.h"

#include "survey/figures.h"

namespace orbelan {
namespace {

std::uint64_t Mix(std::uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// The uniform numbers in [0, 1) that decide a file's draws come from its name: the same
// file in the same folder is drawn the same way in every scan, on any thread.
std::uint64_t NameHash(std::uint64_t seed, std::string_view name) {
  std::uint64_t h = 1469598103934665603ull ^ seed;
  for (unsigned char c : name) h = (h ^ c) * 1099511628211ull;
  return h;
}

double Uniform(std::uint64_t nameHash, int j) {
  const std::uint64_t h = Mix(nameHash + 0x9E3779B97F4A7C15ull * static_cast<std::uint64_t>(j + 1));
  return static_cast<double>(h >> 11) * 0x1.0p-53;
}

}  // namespace

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
  const std::uint64_t hash = NameHash(limits_.Seed, name);
  for (int j = 0; j < FileDraws::kCount; ++j) {
    if (Uniform(hash, j) < share) {
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
