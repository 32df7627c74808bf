#include "survey/saving_sum.h"

#include <algorithm>
#include <cmath>

#include "estimate/saving_estimate.h"
#include "numbers/saturating_sum.h"

namespace orbelan {
namespace {

double Squared(std::int64_t value) {
  const double v = static_cast<double>(value);
  return v * v;
}

std::int64_t ToBytes(double value) {
  if (!(value > 0)) return 0;
  if (value >= 9.2e18) return INT64_MAX;
  return static_cast<std::int64_t>(std::llround(value));
}

}  // namespace

void SavingSum::AddFolder(const SavingEstimate* estimate, std::int64_t unzippedBytes) {
  if (estimate == nullptr || !estimate->Known) {
    if (unzippedBytes <= 0) return;  // nothing to zip, nothing to estimate
    ++Missing;
    AddSize(High, unzippedBytes);
    AboveSquares += Squared(unzippedBytes);
    return;
  }
  ++Estimated;
  // The disk space given back, as each folder's Saving column shows it.
  AddSize(Saving, estimate->Disk);
  AddSize(Low, estimate->DiskLow);
  AddSize(High, estimate->DiskHigh);
  AddSize(Sampled, estimate->Sampled);
  BelowSquares += Squared(estimate->Disk - estimate->DiskLow);
  AboveSquares += Squared(estimate->DiskHigh - estimate->Disk);
}

void SavingSum::Add(const SavingSum& other) {
  AddSize(Saving, other.Saving);
  AddSize(Low, other.Low);
  AddSize(High, other.High);
  AddSize(Sampled, other.Sampled);
  Estimated += other.Estimated;
  Missing += other.Missing;
  BelowSquares += other.BelowSquares;
  AboveSquares += other.AboveSquares;
}

void SavingSum::AddDiskChange(std::int64_t saving, std::int64_t low, std::int64_t high) {
  AddSize(Saving, saving);
  AddSize(Low, low);
  AddSize(High, high);
}

void SavingSum::AddPossibleGain(std::int64_t bytes) {
  if (bytes <= 0) return;
  AddSize(High, bytes);
  AboveSquares += static_cast<double>(bytes) * static_cast<double>(bytes);
}

std::int64_t SavingSum::QuadratureLow() const {
  return std::clamp(ToBytes(static_cast<double>(Saving) - std::sqrt(BelowSquares)), Low, Saving);
}

std::int64_t SavingSum::QuadratureHigh() const {
  return std::clamp(ToBytes(static_cast<double>(Saving) + std::sqrt(AboveSquares)), Saving, High);
}

}  // namespace orbelan
