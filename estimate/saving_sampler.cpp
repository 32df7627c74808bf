// Sampling a folder over the small limit: blocks drawn from its files laid end to end, or
// the files the scan drew (estimate/saving_sampler.h).

#include "estimate/saving_sampler.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "estimate/noise_screen.h"
#include "estimate/saving_calibration.h"
#include "estimate/saving_interval.h"
#include "estimate/small_sums.h"
#include "numbers/random_bits.h"
#include "scan/file_draws.h"

namespace orbelan::saving {
namespace {

constexpr int kMinDraws = 16;       // draws a folder takes before its budget may stop it...
constexpr int kMinCalibrated = 4;   // ...of which at least this many deflated
// What a byte through the fast codec costs against a byte through deflate at level 6.
constexpr double kFastCost = 0.25;
// The history the fast codec is given before a piece (lz4's dictionary). Over 115 folders
// of 1-8 MiB of /usr/share and 119 of /usr/lib, 48 drawn 8 KiB blocks each, the residual
// spread of the zipper's saving (after 24 KiB) about the folder's line on the fast saving
// was 0.029 and 0.042 with lz4 cold, 0.019 and 0.031 after 8 KiB, 0.014 and 0.026 after
// 24 KiB (zstd at level 1 cold: 0.030 and 0.037); 8 KiB reads a third of the bytes 24 KiB
// does and spares lz4 indexing them, for the same figures on both trees.
constexpr std::int64_t kFastHistory = 8 * 1024;
constexpr int kMaxDraws = 1 << 16;  // draws that read nothing (holes, known files) end here
constexpr double kGoldenStep = 0.61803398874989484820;
// Files up to this size (or a block, if larger) are one unit, compressed whole when drawn:
// exact and read once. Past its first 16 KiB a file deflated whole costs what blocks with
// their history cost, so a larger file is drawn in blocks: a 48 KiB file deflated whole
// cost three block draws for what one draw tells.
constexpr std::int64_t kWholeFileUnit = 16 * 1024;
// What a byte of history given to the zipper's deflate costs against a byte it deflates:
// 8 KiB blocks after 24 KiB took 25 ns a byte of block here, cold ones 15.
constexpr double kHistoryCost = 0.25;
// Data ranges a sparse file is cut into at most.
constexpr int kMostRanges = 4096;
// The largest file a folder deflated whole may hold: deflating it takes a few milliseconds.
constexpr std::int64_t kWholeLargest = 1 << 20;
// A folder up to this size, of at least kManyFiles files with data, stops once the spread
// of its draws, resting on at least this many deflated draws, is within kSpreadMargin (the
// allowance for unseen bytes aside). Larger folders spend a small share of their bytes on
// narrowing that allowance too; a folder of a few large files draws on to the full margin.
// Eight: the fast codec measures each piece after its history as the zipper's deflate
// does, so the deflated draws' residual about the folder's line is about half what a cold
// fast codec left, and fewer of them carry it (with ten, /usr/share's folders of 1-8 MiB
// stopped with their spread far inside the margin).
constexpr int kSteadyCalibrated = 8;
constexpr std::int64_t kSpreadStopUpTo = 8 << 20;
constexpr std::size_t kManyFiles = 16;
// The margin that spread is held to. Its interval already carries the block measurement's
// allowances (a point of the bytes between its ends), so 4% leaves the draws' own spread
// about the 3% the full interval is held to; over three seeds of /usr/share, /usr/lib and
// copies of folders of /usr, folders of 1-8 MiB read 12% less at 96-100% within 3 points.
constexpr double kSpreadMargin = 0.04;

}  // namespace

double BlockRate(int fd, const struct stat& st, std::int64_t start, std::int64_t length,
                 std::int64_t prime, Workspace& ws, std::int64_t& read) {
  if (st.st_blocks * 512 < st.st_size) {
    const off_t data = lseek(fd, start, SEEK_DATA);
    if ((data < 0 && errno == ENXIO) || (data >= 0 && data >= start + length)) return kHoleRate;
  }
  const std::int64_t prior = std::min(prime, start);
  const std::int64_t want = prior + length;
  if (ws.in.size() < static_cast<std::size_t>(want)) ws.in.resize(static_cast<std::size_t>(want));
  const std::int64_t n = ReadAt(fd, ws.in.data(), want, start - prior);
  if (n > 0) read += n;
  if (n <= prior) return -1;
  const std::int64_t got = n - prior;
  const std::int64_t withPrior = ws.Compressed(ws.in.data(), static_cast<std::size_t>(n));
  const std::int64_t priorOnly = prior > 0 ? ws.Compressed(ws.in.data(), static_cast<std::size_t>(prior)) : 0;
  return std::clamp(1.0 - static_cast<double>(withPrior - priorOnly) / static_cast<double>(got), 0.0, 1.0);
}

namespace {

// The draws of a folder: positions frac(u + k * golden) over its regular files laid end to
// end, largest first. A file up to wholeUnit_ is one unit, read whole; a larger one is cut
// into blocks. Every draw measures its unit with the fast codec, every step_-th also with
// the zipper's deflate (zlib), a block after the history before it
// (estimate/saving_calibration.h).
class Sampler {
 public:
  Sampler(int dirFd, Listing& listing, const EstimateOptions& options, Workspace& ws)
      : dirFd_(dirFd), listing_(listing), options_(options), ws_(ws) {
    step_ = std::max(1, options.CalibrateEvery);
    block_ = std::max<std::int64_t>(options.BlockBytes, 512);
    prime_ = std::max<std::int64_t>(options.PrimeBytes, 0);
    wholeUnit_ = std::max(block_, kWholeFileUnit);
    piece_ = std::clamp<std::int64_t>(options.FastBytes, 512, block_);
    // An interval rests on at least kMinCalibrated deflated draws.
    minDraws_ = std::max(kMinDraws, (kMinCalibrated - 1) * step_ + 1);
    auto& files = listing_.files;
    std::sort(files.begin(), files.end(), [&](const FileEntry& a, const FileEntry& b) {
      if (a.size != b.size) return a.size > b.size;
      return std::strcmp(listing_.names.c_str() + a.nameOffset, listing_.names.c_str() + b.nameOffset) < 0;
    });
    std::uint64_t state = FolderSeed(options.Seed, listing_);
    shift_ = UnitInterval(SplitMix64(state));
    // The draws fall on the files' data; the holes of sparse files are known to save all
    // but what deflate leaves of zeros, and are neither drawn nor read.
    for (std::size_t i = 0; i < files.size(); ++i) Segment(i);
    ends_.reserve(segments_.size());
    std::int64_t end = 0;
    for (const DataRange& r : segments_) ends_.push_back(end = AddSat(end, r.length));
    total_ = end;
    std::int64_t regular = 0;
    for (const FileEntry& f : files) {
      regular = AddSat(regular, f.size);
      if (f.size > 0) ++dataFiles_;
    }
    holes_ = std::max<std::int64_t>(0, regular - total_);
    const double sampledBytes = static_cast<double>(AddSat(total_, listing_.otherBytes));
    const double ramp = std::min(1.0, sampledBytes / static_cast<double>(std::max<std::int64_t>(options.RampBytes, 1)));
    const double large =
        std::clamp(sampledBytes / static_cast<double>(std::max<std::int64_t>(options.LargeFrom, 1)) - 1.0, 0.0, 1.0);
    budget_ = std::max(options.BudgetShare * sampledBytes, static_cast<double>(options.MinBudget) * (ramp + large));
    state_.assign(files.size(), kUntouched);
    rate_.assign(files.size(), 0.0f);
    unseen_ = total_;
    // Empty files are never drawn; they are known to save nothing.
    for (std::size_t i = files.size(); i-- > 0 && files[i].size == 0;) {
      state_[i] = kKnown;
      ++touched_;
      ++settled_;
    }
  }
  ~Sampler() {
    for (const Open& o : open_) {
      if (o.fd >= 0) close(o.fd);
    }
  }
  Sampler(const Sampler&) = delete;
  Sampler& operator=(const Sampler&) = delete;

  SavingEstimate Run(const std::atomic<bool>* stop) {
    const std::int64_t allBytes = AddSat(listing_.regularBytes, listing_.otherBytes);
    SavingEstimate est;
    const double fastDraw = kFastCost * static_cast<double>(piece_);
    const double deflatedDraw =
        std::max(static_cast<double>(wholeUnit_), static_cast<double>(block_) + kHistoryCost * static_cast<double>(prime_)) + fastDraw;
    // A folder that its budget, or its fewest draws, could deflate whole is: exact, for
    // what sampling would cost. Not when one file is so large that deflating it would keep
    // a stop waiting.
    const int fewestDeflated = (minDraws_ - 1) / step_ + 1;
    const double fewest = fewestDeflated * deflatedDraw + (minDraws_ - fewestDeflated) * fastDraw;
    const std::int64_t largest = listing_.files.empty() ? 0 : listing_.files.front().size;
    if (holes_ == 0 && static_cast<double>(total_) <= std::max(budget_, fewest) && largest <= kWholeLargest)
      return Whole(stop);
    if (total_ == 0) return Holes();
    for (int k = 0; k < kMaxDraws; ++k) {
      if (Stopped(stop)) return {};
      const bool calibrate = k % step_ == 0;
      if (draws_ >= minDraws_ && cost_ + (calibrate ? deflatedDraw : fastDraw) > budget_) break;
      double x = shift_ + static_cast<double>(k) * kGoldenStep;
      x -= std::floor(x);
      Draw(x, calibrate);
      if (draws_ < minDraws_) continue;  // the fewest draws an interval may rest on
      // The interval costs a sort of the draws: looked at again after a sixteenth part more
      // draws, so that it stays a small share of the run however long.
      if (draws_ < nextCheck_ && cost_ < budget_) continue;
      nextCheck_ = draws_ + std::max(1, draws_ / 16);
      est = Interval();
      if (AllKnownExactly()) return Exact();
      // Every file deflated whole or found unreadable: further draws would learn nothing,
      // and the unreadable bytes save between nothing and all of them.
      if (settled_ == listing_.files.size() && holes_ == 0) return Settled();
      const double halfWidth = 0.5 * static_cast<double>(est.High - est.Low);
      const double target = options_.TargetMargin * static_cast<double>(allBytes);
      if (halfWidth <= target) break;
      // The allowance for bytes no draw has seen narrows only as 3/m: in a folder of a few
      // MiB and many files the budget would go on that alone. Once the draws' own spread,
      // on enough deflated draws, is within kSpreadMargin, the point estimate is as good as
      // the margin asks; the interval still carries the allowance as it stands.
      if (calibrated_ >= kSteadyCalibrated && allBytes <= kSpreadStopUpTo && dataFiles_ >= kManyFiles) {
        const SavingEstimate spread = Interval(false);
        if (0.5 * static_cast<double>(spread.High - spread.Low) <= kSpreadMargin * static_cast<double>(allBytes)) break;
      }
      if (cost_ >= budget_) break;
    }
    if (readable_ == 0) {
      SavingEstimate none;
      none.Sampled = read_;
      none.Unreadable = unreadableBytes_;
      return FinishOthers(none, listing_);
    }
    return FinishOthers(Interval(), listing_);
  }

 private:
  enum : std::uint8_t { kUntouched, kTouched, kKnown, kUnreadable, kNoise };
  struct Open {
    std::size_t file;
    int fd;
    struct stat st;
  };
  // A run of a file's data, as drawn.
  struct DataRange {
    std::size_t file;
    std::int64_t start, length;
  };

  // Bytes of file that ws_.in holds from start, read for the last unit deflated.
  struct Held {
    std::size_t file;
    std::int64_t start, length;
  };

  // Every file deflated whole as the zipper deflates it: the exact sum, unreadable bytes
  // between nothing and all.
  SavingEstimate Whole(const std::atomic<bool>* stop) {
    for (std::size_t i = 0; i < listing_.files.size(); ++i) {
      if (Stopped(stop)) return {};
      const FileEntry& file = listing_.files[i];
      if (state_[i] == kKnown) continue;  // empty
      const WholeFile whole =
          CompressWhole(dirFd_, listing_.names.c_str() + file.nameOffset, file.size, ws_, Deflater::kZipper, &noAtimeRefused_);
      read_ += whole.read;
      if (!whole.readable || whole.read <= 0) {
        unreadableBytes_ = AddSat(unreadableBytes_, file.size);
        continue;
      }
      exactSaving_ += whole.saving;
      if (whole.missing > 0) unreadableBytes_ = AddSat(unreadableBytes_, whole.missing);
    }
    return unreadableBytes_ > 0 ? Settled() : Exact();
  }

  // The open descriptor of file i, kept for the next draws in it; -1 when it cannot be
  // opened as a regular file.
  int Descriptor(std::size_t i, const struct stat*& st) {
    for (Open& o : open_) {
      if (o.fd >= 0 && o.file == i) {
        st = &o.st;
        return o.fd;
      }
    }
    Open& slot = open_[nextOpen_];
    nextOpen_ = (nextOpen_ + 1) % open_.size();
    if (slot.fd >= 0) close(slot.fd);
    slot.file = i;
    slot.fd = OpenRegular(dirFd_, listing_.names.c_str() + listing_.files[i].nameOffset, slot.st, &noAtimeRefused_);
    st = &slot.st;
    return slot.fd;
  }

  // Whether bytes read for a deflated draw are noise (estimate/noise_screen.h): the zipper
  // would store them, so they are not deflated. zlib takes longer on such bytes than on
  // text (1.3 ms for 64 KiB), and a folder of random or compressed files spent most of its
  // draws' time on it; the interval allows them up to kIncompressibleSlack.
  bool Noise(const unsigned char* data, std::int64_t size) {
    if (!IsNoise(ws_, data, static_cast<std::size_t>(size))) return false;
    ++noiseCalibrated_;
    return true;
  }

  static double FastRate(std::int64_t fast, std::int64_t size) {
    return std::clamp(1.0 - static_cast<double>(fast) / static_cast<double>(size), 0.0, 1.0);
  }

  // A unit (a whole small file, or a block of a larger one) and the piece of it the fast
  // codec measures: the aligned piece_ bytes holding the drawn byte.
  struct Unit {
    std::int64_t start, length;
    std::int64_t pieceStart, pieceLength;
  };
  Unit UnitAt(std::size_t i, const DataRange& range, std::int64_t offset) const {
    Unit u;
    if (listing_.files[i].size <= wholeUnit_) {
      u.start = 0;
      u.length = listing_.files[i].size;
    } else {
      u.start = std::max(range.start, offset / block_ * block_);
      u.length = std::min(u.start / block_ * block_ + block_, range.start + range.length) - u.start;
    }
    u.pieceStart = std::max(u.start, offset / piece_ * piece_);
    u.pieceLength = std::min(u.pieceStart / piece_ * piece_ + piece_, u.start + u.length) - u.pieceStart;
    return u;
  }

  void Draw(double x, bool calibrate) {
    ++draws_;
    x_ = x;
    const auto pos = static_cast<std::int64_t>(
        static_cast<unsigned __int128>(static_cast<std::uint64_t>(x * 0x1.0p53)) *
            static_cast<unsigned __int128>(total_) >> 53);
    const std::size_t j = static_cast<std::size_t>(
        std::upper_bound(ends_.begin(), ends_.end(), pos) - ends_.begin());
    if (j >= ends_.size()) return UnreadableDraw();  // only when total_ is 0, which never samples
    const DataRange& range = segments_[j];
    const std::size_t i = range.file;
    const std::int64_t offset = range.start + (pos - (ends_[j] - range.length));
    Touch(i);
    if (state_[i] == kUnreadable) return UnreadableDraw();
    const Unit unit = UnitAt(i, range, offset);
    double rate = 0;
    if (calibrate) {
      rate = listing_.files[i].size <= wholeUnit_ ? WholeRate(i) : BlockRate(i, unit);
      if (rate < 0) return UnreadableDraw();
    }
    const double fast = PieceRate(i, unit);
    if (fast < 0) return UnreadableDraw();
    Readable(fast, rate, calibrate);
  }

  // Bytes of a unit first seen whole: what its pieces did not already count as seen.
  void SeenWhole(std::size_t i, std::int64_t start, std::int64_t length) {
    auto it = piecesSeen_.find({i, start});
    unseen_ -= length - (it == piecesSeen_.end() ? 0 : it->second);
  }
  bool UnitSeenWhole(std::size_t i, std::int64_t start) const {
    if (listing_.files[i].size <= wholeUnit_) return state_[i] == kKnown;
    auto it = blocks_.find({i, start});
    return it != blocks_.end();
  }

  // The zipper's saving rate of a whole small file, exact; -1 when it cannot be read.
  double WholeRate(std::size_t i) {
    if (state_[i] == kKnown) return rate_[i];
    if (state_[i] == kNoise) {
      ++noiseCalibrated_;
      return 0;
    }
    const FileEntry& file = listing_.files[i];
    const struct stat* st = nullptr;
    const int fd = Descriptor(i, st);
    if (fd < 0) return MarkUnreadable(i);
    if (ws_.in.size() < static_cast<std::size_t>(file.size)) ws_.in.resize(static_cast<std::size_t>(file.size));
    held_ = kNothingHeld;  // overwritten now, whatever the read gives
    const std::int64_t n = ReadAt(fd, ws_.in.data(), file.size, 0);
    if (n <= 0) return MarkUnreadable(i);
    read_ += n;
    held_ = {i, 0, n};
    // Charged as if deflated, so that a folder of noise reads no more than it did.
    cost_ += static_cast<double>(n);
    if (Noise(ws_.in.data(), n)) {  // never exact: it saves 0 to kIncompressibleSlack
      SeenWhole(i, 0, file.size);
      state_[i] = kNoise;
      if (n < file.size) unreadableBytes_ = AddSat(unreadableBytes_, file.size - n);
      return 0;
    }
    const std::int64_t saving =
        std::max<std::int64_t>(0, n - ws_.ZipperSize(ws_.in.data(), static_cast<std::size_t>(n)));
    const double rate = static_cast<double>(saving) / static_cast<double>(file.size);
    SeenWhole(i, 0, file.size);
    state_[i] = kKnown;
    ++settled_;
    rate_[i] = static_cast<float>(rate);
    exactSaving_ += saving;
    if (n < file.size) unreadableBytes_ = AddSat(unreadableBytes_, file.size - n);
    return rate;
  }

  // The zipper's saving rate of a block of file i, after the history before it; -1 when the
  // file cannot be read or has shrunk below the block.
  double BlockRate(std::size_t i, const Unit& unit) {
    blocksDrawn_ = true;
    auto known = blocks_.find({i, unit.start});
    if (known != blocks_.end()) return known->second;
    const struct stat* st = nullptr;
    const int fd = Descriptor(i, st);
    if (fd < 0) return MarkUnreadable(i);
    double rate = kHoleRate;  // a block wholly inside a hole saves all but what deflate leaves of zeros, unread
    if (!InHole(fd, *st, unit.start, unit.length)) {
      const std::int64_t prior = std::min(prime_, unit.start);
      const std::int64_t want = prior + unit.length;
      if (ws_.in.size() < static_cast<std::size_t>(want)) ws_.in.resize(static_cast<std::size_t>(want));
      held_ = kNothingHeld;
      const std::int64_t n = ReadAt(fd, ws_.in.data(), want, unit.start - prior);
      if (n > 0) read_ += n;
      if (n <= prior) return -1;  // the file shrank below this block
      held_ = {i, unit.start - prior, n};
      const std::int64_t got = n - prior;
      // The zipper's own deflate, its window holding the history: what the block adds to
      // the member as written (libdeflate's streams lie up to 8 points of the bytes off
      // zlib's on some text, enough to leave a folder's figure outside 3 points). Charged
      // as if deflated, so that a folder of noise reads no more than it did.
      cost_ += static_cast<double>(got) + kHistoryCost * static_cast<double>(prior);
      if (Noise(ws_.in.data() + prior, got)) {
        rate = 0;
      } else {
        const std::int64_t bytes = ws_.ZipperSizeAfter(ws_.in.data(), static_cast<std::size_t>(prior),
                                                       ws_.in.data() + prior, static_cast<std::size_t>(got));
        rate = std::clamp(1.0 - static_cast<double>(bytes) / static_cast<double>(got), 0.0, 1.0);
      }
    }
    SeenWhole(i, unit.start, unit.length);
    blocks_.emplace(std::make_pair(i, unit.start), static_cast<float>(rate));
    return rate;
  }

  // The fast codec's saving rate of the unit's piece after the history before it in its
  // file (up to kFastHistory bytes), from the bytes just read for the unit when they hold both;
  // -1 when it cannot be read.
  double PieceRate(std::size_t i, const Unit& unit) {
    auto [known, fresh] = pieces_.try_emplace({i, unit.pieceStart}, -1.0f);
    if (!fresh && known->second >= 0) return known->second;
    double fast = kHoleRate;
    const std::int64_t prior = std::min(std::min(prime_, kFastHistory), unit.pieceStart);
    if (held_.file == i && held_.start <= unit.pieceStart - prior &&
        unit.pieceStart + unit.pieceLength <= held_.start + held_.length) {
      const unsigned char* piece = ws_.in.data() + (unit.pieceStart - held_.start);
      fast = FastRate(ws_.FastSizeAfter(piece - prior, static_cast<std::size_t>(prior), piece,
                                        static_cast<std::size_t>(unit.pieceLength)),
                      unit.pieceLength);
      cost_ += kFastCost * static_cast<double>(unit.pieceLength);
    } else {
      const struct stat* st = nullptr;
      const int fd = Descriptor(i, st);
      if (fd < 0) return MarkUnreadable(i);
      if (!InHole(fd, *st, unit.pieceStart, unit.pieceLength)) {
        const std::int64_t want = prior + unit.pieceLength;
        if (piece_buf_.size() < static_cast<std::size_t>(want)) piece_buf_.resize(static_cast<std::size_t>(want));
        const std::int64_t n = ReadAt(fd, piece_buf_.data(), want, unit.pieceStart - prior);
        if (n <= prior) {
          pieces_.erase(known);
          return -1;  // shrank below the piece
        }
        read_ += n;
        fast = FastRate(ws_.FastSizeAfter(piece_buf_.data(), static_cast<std::size_t>(prior), piece_buf_.data() + prior,
                                          static_cast<std::size_t>(n - prior)),
                        n - prior);
        cost_ += kFastCost * static_cast<double>(n - prior);
      }
    }
    known->second = static_cast<float>(fast);
    if (!UnitSeenWhole(i, unit.start)) {
      unseen_ -= unit.pieceLength;
      piecesSeen_[{i, unit.start}] += unit.pieceLength;
    }
    return fast;
  }

  // Whether length bytes at start of a sparse file lie wholly in a hole.
  static bool InHole(int fd, const struct stat& st, std::int64_t start, std::int64_t length) {
    if (st.st_blocks * 512 >= st.st_size) return false;
    const off_t data = lseek(fd, start, SEEK_DATA);
    return (data < 0 && errno == ENXIO) || (data >= 0 && data >= start + length);
  }

  void Touch(std::size_t i) {
    if (state_[i] != kUntouched) return;
    state_[i] = kTouched;
    ++touched_;
  }
  void Readable(double fast, double rate, bool calibrated) {
    ++readable_;
    calibrated_ += calibrated ? 1 : 0;
    drawn_.push_back({x_, fast, rate, calibrated});
  }
  void UnreadableDraw() { ++unreadableDraws_; }
  // File i cannot be read: its bytes save between nothing and all of them. Returns -1.
  double MarkUnreadable(std::size_t i) {
    if (state_[i] != kUnreadable) {
      unreadableBytes_ = AddSat(unreadableBytes_, listing_.files[i].size);
      ++settled_;
    }
    state_[i] = kUnreadable;
    return -1;
  }

  // Every file drawn, every one small and deflated whole: the exact sum.
  bool AllKnownExactly() const {
    if (touched_ != listing_.files.size() || unreadableBytes_ > 0) return false;
    for (std::uint8_t s : state_) {
      if (s != kKnown) return false;
    }
    return true;
  }
  SavingEstimate Settled() const {
    SavingEstimate est;
    est.Sampled = read_;
    est.Unreadable = unreadableBytes_;
    const std::int64_t readable = total_ - unreadableBytes_;
    if (readable <= 0) return FinishOthers(est, listing_);
    est.Known = true;
    est.Low = exactSaving_;
    est.High = AddSat(exactSaving_, unreadableBytes_);
    const double rate = static_cast<double>(exactSaving_) / static_cast<double>(readable);
    est.Saving = AddSat(exactSaving_, ToBytes(rate * static_cast<double>(unreadableBytes_)));
    return FinishOthers(est, listing_);
  }

  // Every file measured whole with the zipper's deflate: its members' bytes exactly.
  SavingEstimate Exact() const {
    SavingEstimate est;
    est.Known = true;
    est.AsZipped = true;
    est.Saving = est.Low = est.High = exactSaving_;
    est.Sampled = read_;
    return FinishOthers(est, listing_);
  }

  // unseen false: without the allowance for bytes no draw has seen (for the stop rule).
  SavingEstimate Interval(bool unseen = true) const {
    const TwoPhaseMean m = CalibratedMean(drawn_);
    DrawSums d;
    d.draws = draws_;
    d.unreadableDraws = unreadableDraws_;
    // The degrees of freedom are the deflated draws'; the mean and its variance both phases'.
    d.readable = std::max(1, m.calibrated);
    d.sum = m.mean * d.readable;
    d.variance = m.variance * d.readable;
    d.total = total_;
    d.unseen = unseen ? unseen_ : 0;
    d.read = read_;
    d.unreadableBytes = unreadableBytes_;
    d.biasUp = blocksDrawn_ ? PrimingBias(prime_, block_) : kBlockError;
    // Noise the draws took for stored may save up to kIncompressibleSlack of its bytes.
    if (m.calibrated > 0)
      d.biasUp += kIncompressibleSlack * static_cast<double>(noiseCalibrated_) / static_cast<double>(m.calibrated);
    return WithHoles(SampledInterval(d));
  }

  // est with the holes' saving added to each end.
  SavingEstimate WithHoles(SavingEstimate est) const {
    if (holes_ == 0 || !est.Known) return est;
    const std::int64_t saved = ToBytes(kHoleRate * static_cast<double>(holes_));
    est.Saving = AddSat(est.Saving, saved);
    est.Low = AddSat(est.Low, saved);
    est.High = AddSat(est.High, saved);
    return est;
  }

  // Sparse files of nothing but holes: known without a draw.
  SavingEstimate Holes() const {
    SavingEstimate est;
    est.Known = true;
    est.Saving = est.Low = est.High = ToBytes(kHoleRate * static_cast<double>(holes_));
    return FinishOthers(est, listing_);
  }

  // The data ranges of file i: the whole file, unless it is large and takes fewer blocks
  // than its size says (sparse), when SEEK_DATA and SEEK_HOLE tell where its data lies. At
  // most kMostRanges per file; beyond them the rest of the file is one range (its holes are
  // then drawn, and measured as holes without being read).
  void Segment(std::size_t i) {
    const FileEntry& file = listing_.files[i];
    if (file.size == 0) return;
    if (file.size <= wholeUnit_ || file.allocated < 0 || file.allocated >= file.size) {
      segments_.push_back({i, 0, file.size});
      return;
    }
    struct stat st;
    Fd fd(OpenRegular(dirFd_, listing_.names.c_str() + file.nameOffset, st, &noAtimeRefused_));
    if (fd.get() < 0) {  // unreadable when drawn
      segments_.push_back({i, 0, file.size});
      return;
    }
    std::int64_t at = 0;
    for (int n = 0; at < file.size; ++n) {
      if (n == kMostRanges) {
        segments_.push_back({i, at, file.size - at});
        return;
      }
      const off_t data = lseek(fd.get(), at, SEEK_DATA);
      if (data < 0 && errno == ENXIO) return;  // holes to the end
      if (data < 0) {                          // cannot tell: the rest is data
        segments_.push_back({i, at, file.size - at});
        return;
      }
      if (data >= file.size) return;
      const off_t hole = lseek(fd.get(), data, SEEK_HOLE);
      const std::int64_t stop = hole < 0 ? file.size : std::min<std::int64_t>(hole, file.size);
      if (stop <= data) {
        segments_.push_back({i, data, file.size - data});
        return;
      }
      segments_.push_back({i, data, stop - data});
      at = stop;
    }
  }

  int dirFd_;
  Listing& listing_;
  const EstimateOptions& options_;
  Workspace& ws_;
  double shift_ = 0;
  double budget_ = 0;
  double cost_ = 0;           // deflated bytes, and fast-codec bytes at kFastCost
  bool blocksDrawn_ = false;  // whole files alone carry no priming bias
  int step_ = 1;
  int minDraws_ = kMinDraws;
  int nextCheck_ = 0;  // the draw count at which the interval is next looked at
  std::int64_t block_ = 0, prime_ = 0, wholeUnit_ = 0, piece_ = 0, total_ = 0, unseen_ = 0;
  std::int64_t holes_ = 0;          // bytes of sparse files in holes: not drawn
  std::size_t dataFiles_ = 0;       // regular files that are not empty
  std::vector<DataRange> segments_;  // the files' data, end to end
  std::vector<std::int64_t> ends_;   // of each range, in those bytes
  using Key = std::pair<std::size_t, std::int64_t>;  // a file and an offset in it
  std::map<Key, float> blocks_;        // deflate's rates of blocks of large files drawn
  std::map<Key, float> pieces_;        // the fast codec's rates of the pieces drawn
  std::map<Key, std::int64_t> piecesSeen_;  // bytes of pieces measured in each unit
  static constexpr Held kNothingHeld{SIZE_MAX, 0, 0};
  Held held_ = kNothingHeld;
  std::vector<unsigned char> piece_buf_;
  std::vector<std::uint8_t> state_;
  std::vector<float> rate_;  // of files deflated whole
  std::array<Open, 4> open_{{{0, -1, {}}, {0, -1, {}}, {0, -1, {}}, {0, -1, {}}}};
  std::size_t nextOpen_ = 0;
  bool noAtimeRefused_ = false;  // the folder's files are not the user's (OpenRegular)
  std::size_t touched_ = 0;
  std::size_t settled_ = 0;  // files known exactly or unreadable
  int draws_ = 0, readable_ = 0, unreadableDraws_ = 0, calibrated_ = 0;
  int noiseCalibrated_ = 0;  // deflated draws found to be noise, not deflated
  double x_ = 0;  // the position of the draw under way
  std::vector<RateDraw> drawn_;
  std::int64_t read_ = 0, unreadableBytes_ = 0, exactSaving_ = 0;
};

}  // namespace

SavingEstimate SampleListedFolder(int dirFd, Listing& listing, const EstimateOptions& options,
                                  const std::atomic<bool>* stop, Workspace& ws) {
  Sampler sampler(dirFd, listing, options, ws);
  return sampler.Run(stop);
}

namespace {

// The drawn files measured whole: when they are every file of the folder, its figure is exact.
struct DrawnWhole {
  std::int64_t bytes = 0, saving = 0;
};

// Measures one draw's unit of the file name (size bytes as the scan found it): the whole
// file when start < 0, else the block of block bytes at start, cold. rate < 0: the file may
// not be read. False when the folder has changed since the scan (the file gone, resized, no
// longer a regular file, or shrunk while read).
bool MeasureDrawnUnit(int dirFd, std::string_view name, std::int64_t size, std::int64_t start, std::int64_t block,
                      Workspace& ws, bool& noAtimeRefused, DrawSums& d, DrawnWhole& whole, double& rate) {
  struct stat st;
  Fd fd(OpenRegular(dirFd, std::string(name).c_str(), st, &noAtimeRefused));
  if (fd.get() < 0 && errno != EACCES) return false;
  if (fd.get() >= 0 && st.st_size != size) return false;
  if (fd.get() < 0) {
    rate = -1;
    d.unreadableBytes = AddSat(d.unreadableBytes, size);
  } else if (start < 0) {
    const WholeFile file = CompressOpenFile(fd.get(), size, ws);
    d.read += file.read;
    if (!file.readable || file.read != size) return false;  // shrank while read
    rate = static_cast<double>(file.saving) / static_cast<double>(size);
    whole.bytes += size;
    whole.saving += file.saving;
    d.unseen -= size;
  } else {
    const std::int64_t length = std::min(block, size - start);
    rate = BlockRate(fd.get(), st, start, length, 0, ws, d.read);
    if (rate < 0) return false;
    d.unseen -= length;
    d.biasUp = PrimingBias(0, block);
  }
  return true;
}

// The folder's estimate from its draws' rates: exact when every file was drawn whole, else
// the sampled folders' interval with the plain variance of independent draws.
SavingEstimate DrawnInterval(DrawSums& d, const std::vector<double>& rates, const DrawnWhole& whole,
                             std::int64_t regularBytes) {
  if (whole.bytes == regularBytes) {
    SavingEstimate est;
    est.Known = true;
    est.Saving = est.Low = est.High = whole.saving;
    est.Sampled = d.read;
    return est;
  }
  if (d.readable > 1) {
    const double mean = d.sum / d.readable;
    for (double y : rates) d.variance += (y - mean) * (y - mean);
    d.variance /= d.readable - 1;
  } else {
    d.variance = 0.25;  // one draw tells nothing of the spread: the largest a rate can have
  }
  return SampledInterval(d);
}

}  // namespace

// A folder whose files the scan drew (FileDraws): those files alone are read. A drawn file
// of at most one block (DrawnBlockBytes) is compressed whole (exact for that file); a larger
// one gives one block at a uniform offset, measured cold: the few draws of a small folder
// leave a margin far wider than history would remove, and the allowance for cold blocks
// (PrimingBias) covers it. The draws are
// independent, so the variance is the plain one of their rates; the interval is then the
// sampled folders' one. False, having read what it read, when the folder has changed since
// the scan (a drawn file gone, resized or no longer a regular file): it is then listed and
// sampled afresh.
bool EstimateFromDraws(int dirFd, const FileDraws& draws, const EstimateOptions& options,
                       const std::atomic<bool>* stop, Workspace& ws, SavingEstimate& out) {
  const std::int64_t block = std::max<std::int64_t>(options.DrawnBlockBytes, 512);
  struct Measured {
    std::string_view name;
    std::int64_t start;  // -1: the whole file
    double rate;         // < 0: unreadable
  };
  std::vector<Measured> measured;
  std::vector<double> rates;
  DrawSums d;
  d.total = draws.RegularBytes;
  d.unseen = draws.RegularBytes;
  d.biasUp = kBlockError;
  DrawnWhole whole;
  std::uint64_t state = options.Seed;
  bool noAtimeRefused = false;
  for (std::size_t j = 0; j < draws.Sizes.size(); ++j) {
    if (Stopped(stop)) {
      out = {};
      return true;
    }
    const std::string_view name = draws.Name(j);
    const std::int64_t size = draws.Sizes[j];
    const double at = UnitInterval(SplitMix64(state));
    const std::int64_t start = size <= block ? -1 : static_cast<std::int64_t>(at * static_cast<double>(size)) / block * block;
    ++d.draws;
    // A unit measured before gives the same again; a file found unreadable is so at any offset.
    auto same = std::find_if(measured.begin(), measured.end(), [&](const Measured& m) {
      return m.name == name && (m.start == start || m.rate < 0);
    });
    double rate = 0;
    if (same != measured.end()) {
      rate = same->rate;
    } else {
      if (!MeasureDrawnUnit(dirFd, name, size, start, block, ws, noAtimeRefused, d, whole, rate)) return false;
      measured.push_back({name, start, rate});
    }
    if (rate < 0) {
      ++d.unreadableDraws;
      continue;
    }
    d.Readable(rate);
    rates.push_back(rate);
  }
  out = DrawnInterval(d, rates, whole, draws.RegularBytes);
  out.Bytes = AddSat(draws.RegularBytes, draws.OtherBytes);
  return true;
}

}  // namespace orbelan::saving
