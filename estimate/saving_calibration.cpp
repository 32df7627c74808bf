#include "estimate/saving_calibration.h"

#include <algorithm>
#include <cmath>

namespace orbelan {

namespace {

// Half the mean squared difference of neighbours (values in position order).
double SuccessiveVariance(const std::vector<double>& v) {
  if (v.size() < 2) return 0.25;
  double sum = 0;
  for (std::size_t j = 1; j < v.size(); ++j) sum += (v[j] - v[j - 1]) * (v[j] - v[j - 1]);
  return sum / (2.0 * static_cast<double>(v.size() - 1));
}

}  // namespace

TwoPhaseMean CalibratedMean(const std::vector<RateDraw>& draws) {
  TwoPhaseMean out;
  std::vector<const RateDraw*> sub;
  double x1 = 0;
  for (const RateDraw& d : draws) {
    x1 += d.fast;
    if (d.calibrated) sub.push_back(&d);
  }
  if (sub.empty()) {
    out.variance = 0.25;
    return out;
  }
  const double n1 = static_cast<double>(draws.size());
  const double n2 = static_cast<double>(sub.size());
  x1 /= n1;
  double x2 = 0, y2 = 0;
  for (const RateDraw* d : sub) {
    x2 += d->fast;
    y2 += d->rate;
  }
  x2 /= n2;
  y2 /= n2;
  double sxy = 0, sxx = 0;
  for (const RateDraw* d : sub) {
    sxy += (d->fast - x2) * (d->rate - y2);
    sxx += (d->fast - x2) * (d->fast - x2);
  }
  double b = 0;
  if (static_cast<int>(sub.size()) >= kFewestForSlope && sxx > 1e-12)
    b = std::clamp(sxy / sxx, 0.0, kSteepestSlope);
  std::sort(sub.begin(), sub.end(), [](const RateDraw* a, const RateDraw* c) { return a->at < c->at; });
  std::vector<double> e;
  for (const RateDraw* d : sub) e.push_back(d->rate - b * d->fast);
  std::vector<const RateDraw*> all;
  for (const RateDraw& d : draws) all.push_back(&d);
  std::sort(all.begin(), all.end(), [](const RateDraw* a, const RateDraw* c) { return a->at < c->at; });
  std::vector<double> x;
  for (const RateDraw* d : all) x.push_back(d->fast);
  out.mean = std::clamp(y2 + b * (x1 - x2), 0.0, 1.0);
  const double se2 = SuccessiveVariance(e);
  out.variance = b * b * SuccessiveVariance(x) / n1 + se2 / n2;
  // The slope is itself estimated from the few deflated draws: its error moves the mean by
  // (xbar1 - xbar2) times as much, which the large-sample formula above leaves out.
  if (b > 0 && sxx > 1e-12) out.variance += se2 * (x1 - x2) * (x1 - x2) / sxx;
  if (sub.size() < 2) out.variance = 0.25;  // one calibrated draw tells nothing of the spread
  out.calibrated = static_cast<int>(sub.size());
  out.slope = b;
  return out;
}

}  // namespace orbelan
