#include "estimate/saving_interval.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace orbelan {

double PrimingBias(std::int64_t prime, std::int64_t block) {
  if (prime >= 16 * 1024) return kBlockError;
  if (prime >= 8 * 1024) return 0.015;
  if (prime >= 4 * 1024) return 0.025;
  return block >= 4 * 1024 ? 0.08 : 0.11;
}

void WidenForTheZipper(SavingEstimate& est, std::int64_t deflated, double low, double high) {
  if (!est.Known || deflated <= 0) return;
  const double d = static_cast<double>(deflated);
  est.Low = std::max<std::int64_t>(0, est.Low - ToBytes((high - 1.0) * d));
  // It cannot save more than the deflated bytes it has left.
  est.High = std::min(est.High + ToBytes((1.0 - low) * d), est.Saving + deflated);
  est.Saving = std::clamp(est.Saving, est.Low, est.High);
}

SavingEstimate SampledInterval(const DrawSums& d) {
  SavingEstimate est;
  est.Sampled = d.read;
  est.Unreadable = d.unreadableBytes;
  if (d.readable == 0) return est;
  const double r = static_cast<double>(d.readable);
  const double m = static_cast<double>(d.draws);
  const double mean = d.sum / r;
  const double sampling = TwoSided95(d.readable - 1) * std::sqrt(d.variance / r);
  const double unreadShare = static_cast<double>(d.unreadableDraws) / m;
  const double total = static_cast<double>(d.total);
  // Rule of three: bytes that m independent draws all missed hold less than 3/m of the
  // total with 95% confidence, whatever their rate.
  const double unseen = std::min(static_cast<double>(d.unseen), 3.0 * total / m) / total;
  // Readable draws weigh (1 - unreadShare); the unreadable ones count 0 or 1.
  const double low = (1 - unreadShare) * (mean - sampling) - mean * unseen - kBlockError;
  const double high = (1 - unreadShare) * (mean + sampling) + unreadShare + (1 - mean) * unseen + d.biasUp;
  est.Known = true;
  est.Low = ToBytes(std::clamp(low, 0.0, 1.0) * total);
  est.High = ToBytes(std::clamp(high, 0.0, 1.0) * total);
  est.Saving = std::clamp(ToBytes(mean * total), est.Low, est.High);
  return est;
}

}  // namespace orbelan
