#include "estimate/saving_small_larger.h"

#include <algorithm>
#include <cmath>

#include "estimate/saving_interval.h"
#include "estimate/small_sums.h"

namespace orbelan {

namespace {

// The half-width of the ratio estimator's total over all files, files of which sampled
// were read, with residual spread s (at least the least spread of their sizes).
double SampleHalf(double files, double sampled, double spread, double rmsSize) {
  const double s = std::max(spread, kLargerSpread * rmsSize);
  return TwoSided95(static_cast<int>(sampled) - 1) * files * std::sqrt(std::max(0.0, 1.0 - sampled / files) / sampled) * s;
}

// What one read file saves with the calibration at ratio; high adds what the fast codec's
// unshrunk bytes and the unreadable ones may save at most.
double FileSaving(const LargerRead& f, double ratio, bool high) {
  const double model = static_cast<double>(f.modelBytes);
  double saving = static_cast<double>(f.exactSaving) + std::clamp(model - ratio * static_cast<double>(f.modelFast), 0.0, model);
  if (high) {
    const double stored = static_cast<double>(f.storedBytes);
    saving += std::clamp(stored - (1.0 - kIncompressibleSlack) * static_cast<double>(f.storedFast), 0.0, stored);
    saving += static_cast<double>(f.missing);
  }
  return saving;
}

}  // namespace

LargerPlan PlanLargerSample(const std::vector<std::pair<std::uint64_t, std::int64_t>>& larger, double allocated) {
  LargerPlan plan;
  if (larger.empty()) return plan;
  double bytes = 0;
  for (const auto& [hash, size] : larger) bytes += static_cast<double>(size);
  plan.census = static_cast<std::int64_t>(kLargerCensus * bytes / static_cast<double>(larger.size()));
  double squares = 0;
  for (const auto& [hash, size] : larger) {
    if (size > plan.census) continue;
    ++plan.others;
    squares += static_cast<double>(size) * static_cast<double>(size);
  }
  plan.sampled = plan.others;
  if (plan.others < kLargerSampleFrom) return plan;
  const double all = plan.others, rms = std::sqrt(squares / all);
  // A sample that would leave fewer than a quarter of them unread spares too few opens for
  // the margin it costs.
  for (int k = kLargerSampleLeast; 4 * k <= 3 * plan.others; ++k) {
    if (SampleHalf(all, k, 0, rms) <= kLargerReadShare * allocated) {
      plan.sampled = k;
      break;
    }
  }
  return plan;
}

bool LargerSampleTrusted(const SmallSums& s, double allocated) {
  for (const LargerRead& f : s.largerSample)
    if (f.exactSaving > 0 || f.modelBytes > 0) return false;
  return UnreadLargerSaving(s, kPriorRatio, 0).half <= kLargerReadShare * allocated;
}

UnreadLargerPart UnreadLargerSaving(const SmallSums& s, double ratio, double ratioHalf) {
  UnreadLargerPart part;
  const double unread = static_cast<double>(s.unreadLargerBytes);
  if (unread <= 0) return part;
  part.high = unread;
  const std::size_t n = s.largerSample.size();
  double bytes = 0, squares = s.unreadLargerSquares;
  for (const LargerRead& f : s.largerSample) {
    bytes += static_cast<double>(f.size);
    squares += static_cast<double>(f.size) * static_cast<double>(f.size);
  }
  if (n < 2 || bytes <= 0) {  // nothing to tell their spread by: anything from none to all
    part.half = unread;
    return part;
  }
  // The ratio estimator of each end: the sample's saving per byte, times the unread bytes.
  auto rate = [&](double r, bool high) {
    double saved = 0;
    for (const LargerRead& f : s.largerSample) saved += FileSaving(f, r, high);
    return saved / bytes;
  };
  const double pointRate = rate(ratio, false);
  double spread = 0;
  for (const LargerRead& f : s.largerSample) {
    const double e = FileSaving(f, ratio, false) - pointRate * static_cast<double>(f.size);
    spread += e * e;
  }
  const double dn = static_cast<double>(n);
  spread = std::sqrt(spread / (dn - 1));
  const double all = dn + static_cast<double>(s.unreadLargerFiles);
  part.half = SampleHalf(all, dn, spread, std::sqrt(squares / all));
  part.point = std::clamp(pointRate * unread, 0.0, unread);
  part.low = std::clamp(rate(ratio + ratioHalf, false) * unread - part.half, 0.0, part.point);
  part.high = std::clamp(rate(ratio - ratioHalf, true) * unread + part.half, part.point, unread);
  return part;
}

}  // namespace orbelan
