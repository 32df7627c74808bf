#include "estimate/saving_small.h"

#include <algorithm>
#include <cmath>

#include "estimate/saving_interval.h"
#include "estimate/saving_small_larger.h"

namespace orbelan {

namespace {

// The bytes of the short files read as a sample, and what they saved.
struct SampleTotals {
  double bytes = 0, saved = 0;
};
SampleTotals ShortSampleTotals(const SmallSums& s) {
  SampleTotals t;
  for (const auto& [size, saving] : s.shortSample) {
    t.bytes += static_cast<double>(size);
    t.saved += static_cast<double>(saving);
  }
  return t;
}

}  // namespace

UnreadShortPart UnreadShortSaving(const SmallSums& s, double fallbackRate) {
  UnreadShortPart part;
  const double unread = static_cast<double>(s.unreadShortBytes);
  if (unread <= 0) return part;
  const std::size_t n = s.shortSample.size();
  const auto [bytes, saved] = ShortSampleTotals(s);
  part.high = unread;
  part.point = std::clamp(fallbackRate, 0.0, 1.0) * unread;
  if (n < 2 || bytes <= 0) return part;  // nothing to tell their spread by
  const double dn = static_cast<double>(n), unreadFiles = static_cast<double>(s.unreadShortFiles);
  const double all = dn + unreadFiles;
  const double meanSize = bytes / dn, meanSaving = saved / dn;
  double sxx = 0, sxy = 0;
  for (const auto& [size, saving] : s.shortSample) {
    sxx += (static_cast<double>(size) - meanSize) * (static_cast<double>(size) - meanSize);
    sxy += (static_cast<double>(size) - meanSize) * (static_cast<double>(saving) - meanSaving);
  }
  // The line through the sample when it tells one, else the ratio through nothing.
  const bool line = n >= static_cast<std::size_t>(kShortLine) && sxx > 0;
  const double slope = line ? std::clamp(sxy / sxx, 0.0, 1.0) : saved / bytes;
  const double intercept = line ? meanSaving - slope * meanSize : 0.0;
  double spread = 0;
  for (const auto& [size, saving] : s.shortSample) {
    const double e = static_cast<double>(saving) - intercept - slope * static_cast<double>(size);
    spread += e * e;
  }
  const int freedom = static_cast<int>(n) - (line ? 2 : 1);
  spread = std::max(std::sqrt(spread / freedom), kShortSpread * meanSize);
  // How far the sample's mean size lies from all short files' adds the line's own error.
  const double mean = (bytes + unread) / all;
  const double reach = line ? std::sqrt(1.0 / dn + (mean - meanSize) * (mean - meanSize) / sxx) : 1.0 / std::sqrt(dn);
  const double half = TwoSided95(freedom) * all * std::sqrt(std::max(0.0, 1.0 - dn / all)) * reach * spread;
  part.point = std::clamp(slope * unread + intercept * unreadFiles, 0.0, unread);
  part.low = std::max(0.0, part.point - half);
  part.high = std::min(unread, part.point + half);
  return part;
}

bool ShortSampleStandsForUnread(const SmallSums& s) {
  if (s.unreadShortFiles <= 0 || s.shortSample.empty()) return true;
  const auto [bytes, saved] = ShortSampleTotals(s);
  if (saved <= 0) return true;
  const double readMean = bytes / static_cast<double>(s.shortSample.size());
  const double unreadMean = static_cast<double>(s.unreadShortBytes) / static_cast<double>(s.unreadShortFiles);
  return unreadMean <= kShortSizeGap * readMean && readMean <= kShortSizeGap * unreadMean;
}

int ShortSampleToRead(std::int64_t files, std::int64_t bytes, int sampled, double allocated) {
  if (sampled <= 0 || files <= 0 || bytes <= 0) return std::max(sampled, 0);
  const double room = kShortReadShare * allocated;
  if (static_cast<double>(bytes) <= room) return 0;
  // A sample of every short file is read whole unless fewer leave at least two unread:
  // all but one would trade what is exact for an estimate to spare a single open.
  const int most = sampled >= files ? sampled - 2 : sampled - 1;
  const double all = static_cast<double>(files), mean = static_cast<double>(bytes) / all;
  for (int k = 2; k <= most; ++k) {  // one file tells no spread: as good as none
    const double n = static_cast<double>(k);
    const double half = TwoSided95(k - 1) * all * std::sqrt(std::max(0.0, 1.0 - n / all) / n) * kShortSpread * mean;
    if (2 * half <= room) return k;
  }
  return sampled;
}

SavingEstimate SmallFolderInterval(const SmallSums& s) {
  SavingEstimate est;
  const std::int64_t read = s.exactBytes + s.modelBytes + s.storedBytes;
  est.Unreadable = s.missing;
  if (read <= 0 && (s.missing > 0 || s.unreadShortBytes > 0 || s.unreadLargerBytes > 0)) return est;
  est.Known = true;

  // The compressible files' deflate sizes: their fast sizes times the calibrated ratio.
  double point = static_cast<double>(s.exactSaving), low = point, high = point;
  double ratio = kPriorRatio, half = kPriorRatioRange;
  if (s.modelBytes > 0) {
    const double n = static_cast<double>(s.ratios.size());
    if (!s.ratios.empty()) {
      double sum = 0;
      for (double r : s.ratios) sum += r;
      const double mean = sum / n;
      double spread = 0;
      for (double r : s.ratios) spread += (r - mean) * (r - mean);
      spread = s.ratios.size() > 1 ? std::sqrt(spread / (n - 1)) : 0;
      const double t = TwoSided95(static_cast<int>(s.ratios.size()) - 1);
      if (!s.biasMeasured) {
        ratio = mean + kSliceRatioBias;
        half = t * std::max(spread, kRatioSpread) / std::sqrt(n);
      } else {
        // One file's whole ratio, and the slices for how the folder's files differ from it:
        // R = whole + w (mean - cold). The slices vary by place within a file (the spread
        // of that file's own cold slices tells how much) and by file; w weighs the slices by
        // how much of their spread is between files, so that in a folder of alike files a
        // few slices that happened on unlike places of them do not move the figure.
        const double slices = std::max({spread, s.biasColdSpread, kRatioSpread});
        const double files = std::max(slices * slices - s.biasColdSpread * s.biasColdSpread, kFileRatioSpread * kFileRatioSpread) +
                             s.biasColdSpread * s.biasColdSpread * std::max(0.0, 1.0 - s.biasCover) / std::max(1, s.biasTiles);
        const double w = files / (files + slices * slices / n);
        ratio = s.biasWhole + w * (mean - s.biasCold);
        const double sampling = std::sqrt(w * w * slices * slices / n + (1 - w) * (1 - w) * files);
        half = std::hypot(t * sampling, 1.96 * kBiasSpread);
      }
    }
    const double bytes = static_cast<double>(s.modelBytes), fast = static_cast<double>(s.modelFast);
    const double implementations = kBlockError * bytes;
    auto saving = [&](double r) { return std::clamp(bytes - r * fast, 0.0, bytes); };
    point += saving(ratio);
    low += std::max(0.0, saving(ratio + half) - implementations);
    high += std::min(bytes, saving(ratio - half) + implementations);
  }
  // Files the fast codec could not shrink: deflate takes at most a sliver off them.
  if (s.storedBytes > 0) {
    const double bytes = static_cast<double>(s.storedBytes), fast = static_cast<double>(s.storedFast);
    high += std::clamp(bytes - (1.0 - kIncompressibleSlack) * fast, 0.0, bytes);
  }
  // What could not be read saves between nothing and all of it; the point gives it the rate
  // of what was read.
  const double readRate = read > 0 ? point / static_cast<double>(read) : 0.0;
  if (s.missing > 0) {
    const double missing = static_cast<double>(s.missing);
    point += readRate * missing;
    high += missing;
  }
  // Short files left unread: what the sample of them saved, per byte.
  if (s.unreadShortBytes > 0) {
    const UnreadShortPart part = UnreadShortSaving(s, readRate);
    point += part.point;
    low += part.low;
    high += part.high;
  }
  // Larger files left unread: what the sample of them saved, per byte.
  if (s.unreadLargerBytes > 0) {
    const UnreadLargerPart part = UnreadLargerSaving(s, ratio, half);
    point += part.point;
    low += part.low;
    high += part.high;
  }
  est.Low = ToBytes(low);
  est.High = ToBytes(high);
  est.Saving = std::clamp(ToBytes(point), est.Low, est.High);
  return est;
}

}  // namespace orbelan
