// Hand-run bench of the saving estimate (never a timed test).
//
//   saving_bench gen DIR [--scale-percent P]  writes the corpus: about 85 folders of 1 KiB to 2 GiB
//                                     mixing text, source, logs, binaries, random bytes,
//                                     compressed data under .jpg/.mp4/.docx names, zeros,
//                                     sparse files and disk images (about 4 GiB written at
//                                     scale 1; sparse files cost little disk)
//   saving_bench run DIR [--threads N] [--whole B] [--prime B] [--block B] [--budget B] [--seed S]
//                    [--ramp B] [--large B] [--calibrate-every N] [--drawn B]
//                                     true saving of every folder (every file compressed
//                                     whole, raw deflate level 6; kept in DIR/.truth) beside
//                                     its estimate, then the accuracy and cost targets
//   saving_bench bias [--block B]     cold against primed blocks, per kind of data
//   saving_bench tree DIR [--threads N] [--whole B] [--drawn B] [--budget B] [--ramp B] [--large B]
//                    [--calibrate-every N] [--min-size N] [--all] [--above B] [--up-to B]
//                                     scan time against estimate time of a whole tree
//                                     (warm cache; the folders the list shows, by default
//                                     as on a first run, or --all with unzipped bytes;
//                                     --above and --up-to keep those of a size class),
//                                     and the peak memory of each
//
// Remove the corpus afterwards (rm -rf DIR).

#include <fcntl.h>
#include <libdeflate.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dir_reader.h"
#include "settings/settings.h"
#include "scan/folder_figures.h"
#include "scan/scan_rules.h"
#include "scan/folder_list.h"
#include "scan/counting_crew.h"
#include "numbers/random_bits.h"
#include "estimate/saving_estimate.h"
#include "scan/scanner.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<unsigned char>;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

struct Rng {
  std::uint64_t s;
  explicit Rng(std::uint64_t seed) : s(seed) {}
  std::uint64_t Next() { return orbelan::SplitMix64(s); }
  std::uint64_t Below(std::uint64_t n) { return n == 0 ? 0 : Next() % n; }
  double Unit() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
  // Roughly Zipf: small indices far more often.
  std::size_t Skewed(std::size_t n) {
    const double u = Unit();
    return std::min(n - 1, static_cast<std::size_t>(std::pow(static_cast<double>(n), u * u * u)));
  }
};

// ---- kinds of content ----

enum Kind { kText, kSource, kLog, kBinary, kRandom, kCompressed, kZeros, kMixed, kKinds };
const char* const kKindNames[] = {"text", "source", "log", "binary", "random", "compressed", "zeros", "mixed"};

std::vector<std::string> Vocabulary(Rng& rng, std::size_t n) {
  static const char* const kSyl[] = {"ka", "lo", "mi", "ne", "ru", "sta", "ver", "in", "on", "ter",
                                     "pa", "de", "ri", "co", "ma", "tion", "al", "er", "ed", "ing"};
  std::vector<std::string> words;
  for (std::size_t i = 0; i < n; ++i) {
    std::string w;
    const std::size_t parts = 1 + rng.Below(3);
    for (std::size_t p = 0; p < parts; ++p) w += kSyl[rng.Below(20)];
    words.push_back(w);
  }
  return words;
}

void AppendText(Bytes& out, std::size_t size, Rng& rng) {
  static std::vector<std::string> vocab = [] { Rng r(7); return Vocabulary(r, 3000); }();
  std::size_t line = 0;
  while (out.size() < size) {
    const std::string& w = vocab[rng.Skewed(vocab.size())];
    out.insert(out.end(), w.begin(), w.end());
    line += w.size() + 1;
    if (line > 60 + rng.Below(20)) {
      out.push_back('\n');
      line = 0;
    } else {
      out.push_back(rng.Below(12) == 0 ? ',' : ' ');
    }
  }
}

void AppendSource(Bytes& out, std::size_t size, Rng& rng) {
  static std::vector<std::string> ids = [] { Rng r(8); return Vocabulary(r, 400); }();
  static const char* const kKeys[] = {"if (", "for (auto& ", "return ", "const int ", "std::string ",
                                      "while (", "auto ", "// ", "case ", "else "};
  int depth = 1;
  while (out.size() < size) {
    std::string line(static_cast<std::size_t>(depth) * 2, ' ');
    line += kKeys[rng.Below(10)];
    line += ids[rng.Skewed(ids.size())];
    if (rng.Below(3) == 0) line.append("_").append(std::to_string(rng.Below(100)));
    if (rng.Below(2)) {
      const std::string& a = ids[rng.Skewed(ids.size())];
      const std::string& b = ids[rng.Skewed(ids.size())];
      line.append("(").append(a).append(", ").append(b).append(");");
    } else {
      line.append(" = ").append(std::to_string(rng.Below(1000))).append(";");
    }
    if (rng.Below(6) == 0 && depth < 6) {
      line += " {";
      ++depth;
    } else if (rng.Below(6) == 0 && depth > 1) {
      line.append("\n").append(static_cast<std::size_t>(depth - 1) * 2, ' ').append("}");
      --depth;
    }
    line += '\n';
    out.insert(out.end(), line.begin(), line.end());
  }
}

void AppendLog(Bytes& out, std::size_t size, Rng& rng) {
  static const char* const kTemplates[] = {"GET /api/v1/items/%d 200", "connection from 10.0.%d.%d closed",
                                           "cache miss for key user:%d", "job %d finished in %d ms",
                                           "WARN retrying request %d (attempt %d)"};
  std::uint64_t t = 1700000000000ull + rng.Below(1000000);
  char line[256];
  while (out.size() < size) {
    t += rng.Below(5000);
    char msg[128];
    std::snprintf(msg, sizeof msg, kTemplates[rng.Skewed(5)], static_cast<int>(rng.Below(100000)),
                  static_cast<int>(rng.Below(300)));
    const int n = std::snprintf(line, sizeof line, "%llu.%03llu host%02d app[%llu]: %s\n",
                                static_cast<unsigned long long>(t / 1000), static_cast<unsigned long long>(t % 1000),
                                static_cast<int>(rng.Below(8)), static_cast<unsigned long long>(1000 + rng.Below(50)), msg);
    out.insert(out.end(), line, line + n);
  }
}

void AppendRandom(Bytes& out, std::size_t size, Rng& rng) {
  while (out.size() < size) {
    const std::uint64_t v = rng.Next();
    for (int i = 0; i < 8 && out.size() < size; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
  }
}

// Executable-like: tables of small numbers, strings, skewed "code" bytes, some noise.
void AppendBinary(Bytes& out, std::size_t size, Rng& rng) {
  while (out.size() < size) {
    const std::size_t section = std::min<std::size_t>(size - out.size(), 4096 + rng.Below(60000));
    const std::size_t target = out.size() + section;
    switch (rng.Below(4)) {
      case 0: {
        std::uint32_t v = static_cast<std::uint32_t>(rng.Below(1 << 20));
        while (out.size() + 4 <= target) {
          v += static_cast<std::uint32_t>(rng.Below(64));
          for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
        }
        break;
      }
      case 1: {
        Bytes text;
        AppendSource(text, section, rng);
        for (unsigned char& c : text) c = c == '\n' ? 0 : c;
        out.insert(out.end(), text.begin(), text.begin() + static_cast<long>(std::min(text.size(), target - out.size())));
        break;
      }
      case 2:
        while (out.size() < target) {
          const double u = rng.Unit();
          out.push_back(static_cast<unsigned char>(std::min(255.0, -std::log(1 - u) * 24)));
        }
        break;
      default:
        AppendRandom(out, target, rng);
    }
    while (out.size() < target) out.push_back(0);
  }
}

libdeflate_compressor* Compressor(int level) {
  thread_local std::map<int, libdeflate_compressor*> compressors;
  auto& c = compressors[level];
  if (c == nullptr) c = libdeflate_alloc_compressor(level);
  return c;
}

std::size_t DeflateSize(const unsigned char* data, std::size_t size, int level = 6) {
  libdeflate_compressor* c = Compressor(level);
  thread_local Bytes out;
  out.resize(libdeflate_deflate_compress_bound(c, size));
  const std::size_t n = libdeflate_deflate_compress(c, data, size, out.data(), out.size());
  return n == 0 ? size : n;
}

// Already-compressed data: text put through deflate (as photos, films and office files are).
void AppendCompressed(Bytes& out, std::size_t size, Rng& rng) {
  libdeflate_compressor* c = Compressor(1);
  Bytes plain, packed;
  while (out.size() < size) {
    plain.clear();
    if (rng.Below(2)) AppendText(plain, 1 << 20, rng); else AppendBinary(plain, 1 << 20, rng);
    packed.resize(libdeflate_deflate_compress_bound(c, plain.size()));
    const std::size_t n = libdeflate_deflate_compress(c, plain.data(), plain.size(), packed.data(), packed.size());
    out.insert(out.end(), packed.begin(), packed.begin() + static_cast<long>(std::min(n, size - out.size())));
  }
}

void AppendKind(Bytes& out, Kind kind, std::size_t size, Rng& rng);

// A disk image: regions of every kind, zeros among them.
void AppendMixed(Bytes& out, std::size_t size, Rng& rng) {
  while (out.size() < size) {
    const std::size_t region = std::min<std::size_t>(size - out.size(), (256 << 10) + rng.Below(4 << 20));
    AppendKind(out, static_cast<Kind>(rng.Below(kMixed)), out.size() + region, rng);
  }
}

void AppendKind(Bytes& out, Kind kind, std::size_t size, Rng& rng) {
  switch (kind) {
    case kText: AppendText(out, size, rng); break;
    case kSource: AppendSource(out, size, rng); break;
    case kLog: AppendLog(out, size, rng); break;
    case kBinary: AppendBinary(out, size, rng); break;
    case kRandom: AppendRandom(out, size, rng); break;
    case kCompressed: AppendCompressed(out, size, rng); break;
    case kZeros: out.resize(size, 0); break;
    case kMixed: AppendMixed(out, size, rng); break;
    default: break;
  }
  if (out.size() > size) out.resize(size);
}

// ---- the corpus ----

bool WriteAll(int fd, const Bytes& data, off_t offset) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = pwrite(fd, data.data() + done, data.size() - done, offset + static_cast<off_t>(done));
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Writes one file of size bytes of kind, in pieces so that big files need little memory.
void WriteFile(const std::string& path, Kind kind, std::int64_t size, Rng& rng) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    std::perror(path.c_str());
    std::exit(1);
  }
  constexpr std::int64_t kPiece = 16 << 20;
  Bytes data;
  for (std::int64_t at = 0; at < size; at += kPiece) {
    data.clear();
    AppendKind(data, kind, static_cast<std::size_t>(std::min(kPiece, size - at)), rng);
    if (!WriteAll(fd, data, at)) {
      std::perror(path.c_str());
      std::exit(1);
    }
  }
  close(fd);
}

// A sparse file: islands of data in a hole.
void WriteSparse(const std::string& path, std::int64_t size, std::int64_t written, Rng& rng) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || ftruncate(fd, size) != 0) {
    std::perror(path.c_str());
    std::exit(1);
  }
  const std::int64_t islands = std::max<std::int64_t>(1, written / (1 << 20));
  Bytes data;
  for (std::int64_t i = 0; i < islands; ++i) {
    data.clear();
    AppendKind(data, static_cast<Kind>(rng.Below(kZeros)), 1 << 20, rng);
    const std::int64_t at = static_cast<std::int64_t>(rng.Below(static_cast<std::uint64_t>(std::max<std::int64_t>(1, size - (1 << 20))))) / 4096 * 4096;
    WriteAll(fd, data, at);
  }
  close(fd);
}

const char* ExtensionFor(Kind kind, Rng& rng) {
  switch (kind) {
    case kText: return rng.Below(2) ? ".txt" : ".md";
    case kSource: return rng.Below(2) ? ".cpp" : ".h";
    case kLog: return ".log";
    case kBinary: return rng.Below(2) ? ".so" : "";
    case kRandom: return ".bin";
    case kCompressed: { static const char* e[] = {".jpg", ".mp4", ".docx", ".png"}; return e[rng.Below(4)]; }
    case kZeros: return ".dat";
    case kMixed: return ".img";
    default: return "";
  }
}

struct Profile {
  const char* name;
  std::vector<Kind> kinds;
  std::int64_t minFile, maxFile;
};

const std::vector<Profile>& Profiles() {
  static const std::vector<Profile> profiles = {
      {"docs", {kText}, 4 << 10, 4 << 20},
      {"source", {kSource, kSource, kText}, 1 << 10, 128 << 10},
      {"logs", {kLog}, 64 << 10, 64 << 20},
      {"media", {kCompressed}, 100 << 10, 64 << 20},
      {"binaries", {kBinary}, 16 << 10, 32 << 20},
      {"noise", {kRandom}, 32 << 10, 64 << 20},
      {"mixed", {kText, kSource, kLog, kBinary, kRandom, kCompressed, kZeros}, 2 << 10, 16 << 20},
      {"vm", {kMixed}, 64 << 20, 1LL << 40},
      {"office", {kCompressed, kCompressed, kText}, 8 << 10, 8 << 20},
      {"zeros", {kZeros, kText}, 64 << 10, 32 << 20},
  };
  return profiles;
}

void Generate(const std::string& root, double scale) {
  if (mkdir(root.c_str(), 0755) != 0 && errno != EEXIST) {
    std::perror(root.c_str());
    std::exit(1);
  }
  Rng rng(20261207);
  std::vector<std::int64_t> sizes;
  for (int i = 0; i < 30; ++i) sizes.push_back(static_cast<std::int64_t>(std::exp2(10 + 13 * rng.Unit())));  // 1 KiB..8 MiB
  for (int i = 0; i < 50; ++i) sizes.push_back(static_cast<std::int64_t>(std::exp2(23 + 5 * rng.Unit()) * scale));  // 8..256 MiB
  const std::int64_t giant[] = {512LL << 20, 768LL << 20, 1LL << 30, 2LL << 30};
  const auto& profiles = Profiles();
  int index = 0;
  std::int64_t written = 0;
  for (std::int64_t target : sizes) {
    const Profile& p = profiles[static_cast<std::size_t>(index) % profiles.size()];
    char name[64];
    std::snprintf(name, sizeof name, "%03d-%s", index++, p.name);
    const std::string dir = root + "/" + name;
    mkdir(dir.c_str(), 0755);
    std::int64_t left = target;
    int n = 0;
    while (left > 0) {
      const Kind kind = p.kinds[rng.Below(p.kinds.size())];
      const double logMin = std::log2(static_cast<double>(p.minFile));
      const double logMax = std::log2(static_cast<double>(std::min(p.maxFile, std::max(p.minFile, target))));
      std::int64_t size = static_cast<std::int64_t>(std::exp2(logMin + (logMax - logMin) * rng.Unit()));
      size = std::min(size, left);
      if (left - size < p.minFile / 2) size = left;
      WriteFile(dir + "/f" + std::to_string(n++) + ExtensionFor(kind, rng), kind, size, rng);
      left -= size;
      written += size;
    }
    std::printf("%s %lld bytes in %d files\n", name, static_cast<long long>(target), n);
    std::fflush(stdout);
  }
  // The trap: a big incompressible file takes nearly every byte, small texts the rest.
  for (int t = 0; t < 3; ++t) {
    char name[64];
    std::snprintf(name, sizeof name, "%03d-trap", index++);
    const std::string dir = root + "/" + name;
    mkdir(dir.c_str(), 0755);
    const std::int64_t big = static_cast<std::int64_t>((32LL << 20) * (t + 1) * scale);
    WriteFile(dir + "/disk.vmdk", kRandom, big, rng);
    for (int i = 0; i < 300; ++i) WriteFile(dir + "/note" + std::to_string(i) + ".txt", kText, 2000 + static_cast<std::int64_t>(rng.Below(6000)), rng);
    written += big;
    std::printf("%s\n", name);
  }
  // Giants: sparse images and zeros, some real data of every kind.
  for (std::int64_t target : giant) {
    char name[64];
    std::snprintf(name, sizeof name, "%03d-giant", index++);
    const std::string dir = root + "/" + name;
    mkdir(dir.c_str(), 0755);
    const std::int64_t real = static_cast<std::int64_t>((48LL << 20) * scale);
    WriteSparse(dir + "/disk.img", target / 2, real, rng);
    WriteFile(dir + "/data.log", kLog, real / 2, rng);
    WriteFile(dir + "/clip.mp4", kCompressed, real / 2, rng);
    WriteSparse(dir + "/swap.raw", target / 2 - real, 0, rng);
    written += 2 * real;
    std::printf("%s %lld bytes (sparse)\n", name, static_cast<long long>(target));
  }
  std::printf("written about %.2f GiB\n", static_cast<double>(written) / (1 << 30));
}

// ---- the truth ----

struct Truth {
  std::int64_t bytes = 0, saving = 0;
};

// Every counted non-archive regular file compressed whole; files past 256 MiB in 256 MiB
// pieces (libdeflate has no streaming; the difference is far below a thousandth).
Truth TrueSaving(const std::string& dir, const orbelan::ScanRules& rules) {
  Truth truth;
  orbelan::DirReader reader;
  if (!reader.OpenPath(dir)) return truth;
  orbelan::DirEntry entry;
  orbelan::EntryStat st;
  constexpr std::int64_t kPiece = 256LL << 20;
  Bytes data;
  while (reader.Next(entry)) {
    if (entry.Hidden() || !reader.Stat(entry.Name, st) || st.Kind == orbelan::EntryKind::Directory) continue;
    if (!orbelan::IsUnzippedFile(entry.NameView(), rules)) continue;
    truth.bytes += st.Size;
    if (st.Kind != orbelan::EntryKind::File) continue;
    const int fd = openat(reader.Fd(), entry.Name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    std::int64_t fileSaving = 0;
    for (std::int64_t at = 0; at < st.Size; at += kPiece) {
      data.resize(static_cast<std::size_t>(std::min(kPiece, st.Size - at)));
      const ssize_t n = pread(fd, data.data(), data.size(), at);
      if (n <= 0) break;
      fileSaving += n - static_cast<std::int64_t>(DeflateSize(data.data(), static_cast<std::size_t>(n)));
    }
    close(fd);
    truth.saving += std::max<std::int64_t>(0, fileSaving);
  }
  return truth;
}

std::int64_t Arg(int argc, char** argv, const char* name, std::int64_t fallback) {
  for (int i = 0; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], name) == 0) return std::atoll(argv[i + 1]);
  }
  return fallback;
}

std::vector<std::string> Subfolders(const std::string& root) {
  std::vector<std::string> names;
  orbelan::DirReader reader;
  if (!reader.OpenPath(root)) return names;
  orbelan::DirEntry entry;
  while (reader.Next(entry)) {
    if (!entry.Hidden() && reader.KindOf(entry) == orbelan::EntryKind::Directory) names.emplace_back(entry.NameView());
  }
  std::sort(names.begin(), names.end());
  return names;
}

int Run(const std::string& root, int argc, char** argv) {
  orbelan::Settings defaults;
  defaults.SetDefaults();
  orbelan::ScanRules settings = defaults.Rules();
  orbelan::EstimateOptions options;
  options.Root = root + "/";
  options.WholeLimit = Arg(argc, argv, "--whole", options.WholeLimit);
  options.PrimeBytes = Arg(argc, argv, "--prime", options.PrimeBytes);
  options.BlockBytes = Arg(argc, argv, "--block", options.BlockBytes);
  options.MinBudget = Arg(argc, argv, "--budget", options.MinBudget);
  options.RampBytes = Arg(argc, argv, "--ramp", options.RampBytes);
  options.LargeFrom = Arg(argc, argv, "--large", options.LargeFrom);
  options.CalibrateEvery = static_cast<int>(Arg(argc, argv, "--calibrate-every", options.CalibrateEvery));
  options.DrawnLimit = Arg(argc, argv, "--drawn", options.DrawnLimit);
  options.SmallLimit = Arg(argc, argv, "--small", options.SmallLimit);
  options.Seed = static_cast<std::uint64_t>(Arg(argc, argv, "--seed", 1));
  const int threads = static_cast<int>(Arg(argc, argv, "--threads", 2));

  const std::vector<std::string> names = Subfolders(root);
  std::map<std::string, Truth> truths;
  {
    std::ifstream in(root + "/.truth");
    std::string name;
    Truth t;
    while (in >> name >> t.bytes >> t.saving) truths[name] = t;
  }
  bool added = false;
  for (const std::string& name : names) {
    if (truths.count(name)) continue;
    const auto start = Clock::now();
    truths[name] = TrueSaving(root + "/" + name, settings);
    std::fprintf(stderr, "truth %s %.1fs\n", name.c_str(), Seconds(start));
    added = true;
  }
  if (added) {
    std::ofstream out(root + "/.truth");
    for (const auto& [name, t] : truths) out << name << ' ' << t.bytes << ' ' << t.saving << '\n';
  }

  // Each folder counted as a scan that draws files for the estimate counts it, so that every
  // folder is estimated the way the program would.
  std::vector<orbelan::FolderRec> recs(names.size());
  std::vector<const orbelan::FolderRec*> order;
  orbelan::FileDrawer drawer(orbelan::ScanDrawLimits(options));
  orbelan::LocalDayClock clock;
  for (std::size_t i = 0; i < names.size(); ++i) {
    recs[i].SetPath(root + "/" + names[i] + "/");
    orbelan::DirReader opener, counter;
    if (opener.OpenPath(recs[i].Path()))
      orbelan::CountFolderFiles(counter, opener.Fd(), recs[i], settings, clock, [] { return false; }, &drawer);
    order.push_back(&recs[i]);
  }
  std::vector<orbelan::SavingEstimate> estimates(names.size());
  std::vector<double> took(names.size());
  std::mutex lock;
  const auto start = Clock::now();
  {
    orbelan::SavingEstimateRunner runner;
    runner.Start(order, settings, options,
                 [&](std::size_t i, const orbelan::SavingEstimate& e) {
                   std::lock_guard<std::mutex> guard(lock);
                   estimates[i] = e;
                   took[i] = Seconds(start);
                 },
                 threads);
    runner.Wait();
  }
  const double total = Seconds(start);

  std::printf("%-16s %14s %8s %8s %8s %8s %7s %8s %s\n", "folder", "bytes", "true%", "est%", "low%",
              "high%", "err", "read%", "");
  int over8 = 0, within5 = 0, covered = 0, over64 = 0, cheap = 0;
  double worstRead = 0, sumErr = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const Truth& t = truths[names[i]];
    const orbelan::SavingEstimate& e = estimates[i];
    const double b = std::max<double>(1, static_cast<double>(t.bytes));
    const double truePct = 100.0 * static_cast<double>(t.saving) / b;
    const double est = 100.0 * static_cast<double>(e.Saving) / b;
    const double low = 100.0 * static_cast<double>(e.Low) / b, high = 100.0 * static_cast<double>(e.High) / b;
    const double read = 100.0 * static_cast<double>(e.Sampled) / b;
    const bool inside = e.Known && e.Low <= t.saving && t.saving <= e.High;
    std::printf("%-16s %14lld %8.2f %8.2f %8.2f %8.2f %7.2f %8.2f %s%s\n", names[i].c_str(),
                static_cast<long long>(t.bytes), truePct, est, low, high, est - truePct, read,
                inside ? "" : "OUTSIDE", e.Known ? "" : " unknown");
    if (t.bytes > (8 << 20)) {
      ++over8;
      if (std::fabs(est - truePct) <= 5) ++within5;
      if (inside) ++covered;
      sumErr += std::fabs(est - truePct);
    }
    if (t.bytes > (64 << 20)) {
      ++over64;
      if (read <= 5) ++cheap;
      worstRead = std::max(worstRead, read);
    }
  }
  std::printf("\nfolders over 8 MiB: %d; estimate within 5 points: %d (%.1f%%, target >= 95%%); "
              "truth inside [low, high]: %d (%.1f%%, target >= 90%%); mean |error| %.2f points\n",
              over8, within5, 100.0 * within5 / std::max(1, over8), covered, 100.0 * covered / std::max(1, over8),
              sumErr / std::max(1, over8));
  std::printf("folders over 64 MiB: %d; read at most 5%%: %d; most read %.2f%%\n", over64, cheap, worstRead);
  std::printf("estimate of all %zu folders: %.2f s on %d threads\n", names.size(), total, threads);
  return 0;
}

// Cold against primed blocks: the mean saving rate of every block (32 KiB unless told) of 8 MiB of each
// kind, against the rate of the 8 MiB compressed whole.
int Bias(std::size_t kBlock) {
  constexpr std::size_t kSize = 8 << 20;
  const std::size_t primes[] = {0, 4 << 10, 8 << 10, 16 << 10, 32 << 10};
  std::printf("%-11s %8s", "kind", "whole");
  for (std::size_t p : primes) std::printf(" %9s", p == 0 ? "cold" : ("prime" + std::to_string(p >> 10) + "K").c_str());
  std::printf("   (saving %% of bytes; blocks of %zu KiB)\n", kBlock >> 10);
  for (int k = 0; k < kKinds; ++k) {
    Rng rng(100 + static_cast<std::uint64_t>(k));
    Bytes data;
    AppendKind(data, static_cast<Kind>(k), kSize, rng);
    const double whole = 100.0 * (1.0 - static_cast<double>(DeflateSize(data.data(), kSize)) / kSize);
    std::printf("%-11s %8.2f", kKindNames[k], whole);
    for (std::size_t p : primes) {
      double saved = 0;
      for (std::size_t at = 0; at + kBlock <= kSize; at += kBlock) {
        const std::size_t prior = std::min(p, at);
        const double with = static_cast<double>(DeflateSize(data.data() + at - prior, prior + kBlock));
        const double alone = prior > 0 ? static_cast<double>(DeflateSize(data.data() + at - prior, prior)) : 0;
        saved += std::clamp(static_cast<double>(kBlock) - (with - alone), 0.0, static_cast<double>(kBlock));
      }
      std::printf(" %9.2f", 100.0 * saved / kSize);
    }
    std::printf("\n");
  }
  return 0;
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

long PeakRssKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

int Tree(const std::string& root, int argc, char** argv) {
  orbelan::Settings defaults;
  defaults.SetDefaults();
  orbelan::ScanRules settings = defaults.Rules();
  orbelan::FolderList folders;
  orbelan::SilentScanObserver observer;
  orbelan::EstimateOptions options;
  options.Root = root + (root.back() == '/' ? "" : "/");
  options.WholeLimit = Arg(argc, argv, "--whole", options.WholeLimit);
  options.DrawnLimit = Arg(argc, argv, "--drawn", options.DrawnLimit);
  options.SmallLimit = Arg(argc, argv, "--small", options.SmallLimit);
  options.MinBudget = Arg(argc, argv, "--budget", options.MinBudget);
  options.RampBytes = Arg(argc, argv, "--ramp", options.RampBytes);
  options.LargeFrom = Arg(argc, argv, "--large", options.LargeFrom);
  options.CalibrateEvery = static_cast<int>(Arg(argc, argv, "--calibrate-every", options.CalibrateEvery));
  // The scan alone, and the scan drawing files for the estimate as the window and the
  // report do when they estimate; rounds alternate, the best of each counts, the last
  // (drawing) leaves the records the estimate reads.
  double scanTime = 1e9, scanCpu = 1e9, drawTime = 1e9, drawCpu = 1e9;
  long scanRss = 0;
  for (int round = 0; round < 6; ++round) {  // the first two warm the cache
    const bool drawing = round % 2 == 1;
    orbelan::Scanner scanner(folders, settings, observer);
    scanner.SetThreads(orbelan::Scanner::DefaultThreads());  // as the window and the report scan
    scanner.SetFileDraws(drawing ? orbelan::ScanDrawLimits(options) : orbelan::FileDrawLimits{});
    const auto start = Clock::now();
    const double cpu = CpuSeconds();
    scanner.Run(root);
    const double took = Seconds(start), used = CpuSeconds() - cpu;
    if (round < 2) continue;
    (drawing ? drawTime : scanTime) = std::min(drawing ? drawTime : scanTime, took);
    (drawing ? drawCpu : scanCpu) = std::min(drawing ? drawCpu : scanCpu, used);
    if (!drawing) scanRss = PeakRssKiB();
  }
  const int threads = static_cast<int>(Arg(argc, argv, "--threads", 2));
  // As the window and the report do: the folders the list shows (over the minimum size).
  // A first run without a settings file lists every folder of at least 1 KiB (minimum size
  // 0); --min-size N as the setting; --all takes every folder with unzipped bytes.
  bool all = false;
  for (int i = 3; i < argc; ++i) all = all || std::strcmp(argv[i], "--all") == 0;
  settings.MinSize = static_cast<std::uint16_t>(Arg(argc, argv, "--min-size", settings.MinSize));
  const std::int64_t above = Arg(argc, argv, "--above", 0);
  const std::int64_t upTo = Arg(argc, argv, "--up-to", INT64_MAX);
  std::vector<const orbelan::FolderRec*> order;
  std::int64_t bytes = 0;
  for (const orbelan::FolderRec& rec : folders) {
    if (orbelan::UnzippedBytes(rec) <= std::max<std::int64_t>(above, 0) || orbelan::UnzippedBytes(rec) > upTo) continue;
    if (!all && !orbelan::MeetsMinSize(rec, settings.MinSize)) continue;
    order.push_back(&rec);
    bytes += orbelan::UnzippedBytes(rec);
  }
  std::stable_sort(order.begin(), order.end(), [](const orbelan::FolderRec* a, const orbelan::FolderRec* b) {
    return orbelan::UnzippedBytes(*a) > orbelan::UnzippedBytes(*b);
  });
  std::mutex lock;
  std::int64_t sampled = 0, saving = 0;
  std::size_t known = 0;
  double estimateTime = 1e9, estimateCpu = 1e9;
  for (int round = 0; round < 2; ++round) {  // the first warms the cache for the files' contents
    sampled = saving = 0;
    known = 0;
    orbelan::SavingEstimateRunner runner;
    const auto start = Clock::now();
    const double cpu = CpuSeconds();
    runner.Start(order, settings, options,
                 [&](std::size_t, const orbelan::SavingEstimate& e) {
                   std::lock_guard<std::mutex> guard(lock);
                   sampled += e.Sampled;
                   saving += e.Saving;
                   known += e.Known ? 1 : 0;
                 },
                 threads);
    runner.Wait();
    estimateTime = std::min(estimateTime, Seconds(start));
    estimateCpu = std::min(estimateCpu, CpuSeconds() - cpu);
  }
  const long totalRss = PeakRssKiB();
  double load[3] = {0, 0, 0};
  if (FILE* f = std::fopen("/proc/loadavg", "r")) {
    if (std::fscanf(f, "%lf %lf %lf", &load[0], &load[1], &load[2]) != 3) load[0] = -1;
    std::fclose(f);
  }
  std::printf("tree %s: %lld folders, %zu with unzipped bytes (%.1f GiB apparent)\n", root.c_str(),
              static_cast<long long>(folders.Count()), order.size(), static_cast<double>(bytes) / (1 << 30));
  std::printf("scan (%d threads, best of 2, warm): %.3f s, %.3f s of CPU, peak RSS %.1f MiB\n",
              orbelan::Scanner::DefaultThreads(), scanTime, scanCpu, scanRss / 1024.0);
  std::size_t drawn = 0, drawBytes = 0;
  for (const orbelan::FolderRec& rec : folders) {
    if (!rec.Draws) continue;
    ++drawn;  // the draws, their names and sizes, and the shared pointer's control block
    drawBytes += sizeof(orbelan::FileDraws) + rec.Draws->Names.capacity() + 32;
  }
  std::printf("scan drawing files for the estimate: %.3f s, %.3f s of CPU (+%.3f s, +%.3f s); "
              "%zu folders keep draws, %.1f MiB\n",
              drawTime, drawCpu, drawTime - scanTime, drawCpu - scanCpu, drawn, drawBytes / 1048576.0);
  // What the estimate costs beyond the scan: its own time and what drawing added to the scan.
  const double cost = estimateTime + std::max(0.0, drawTime - scanTime);
  const double costCpu = estimateCpu + std::max(0.0, drawCpu - scanCpu);
  std::printf("estimate (%d threads, warm): %.3f s; %zu known; read %.1f MiB; saving %.1f MiB\n", threads,
              estimateTime, known, static_cast<double>(sampled) / (1 << 20), static_cast<double>(saving) / (1 << 20));
  std::printf("estimate with the drawing: %.3f s = %.2f x the scan\n", cost, cost / scanTime);
  std::printf("CPU time: %.3f s = %.2f x the scan's (what a loaded machine still compares fairly)\n", costCpu,
              costCpu / scanCpu);
  std::printf("peak RSS with the estimate: %.1f MiB (+%.1f MiB)\n", totalRss / 1024.0, (totalRss - scanRss) / 1024.0);
  std::printf("load average: %.2f %.2f %.2f\n", load[0], load[1], load[2]);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "gen") == 0) {
    const double scale = static_cast<double>(Arg(argc, argv, "--scale-percent", 100)) / 100.0;
    Generate(argv[2], scale);
    return 0;
  }
  if (argc >= 3 && std::strcmp(argv[1], "run") == 0) return Run(argv[2], argc, argv);
  if (argc >= 3 && std::strcmp(argv[1], "tree") == 0) return Tree(argv[2], argc, argv);
  if (argc >= 2 && std::strcmp(argv[1], "bias") == 0) return Bias(static_cast<std::size_t>(Arg(argc, argv, "--block", 32 << 10)));
  std::fprintf(stderr, "usage: saving_bench gen DIR [--scale-percent P] | run DIR [--threads N] [--whole B]"
                       " [--prime B] [--block B] [--seed S] | bias | tree DIR [--threads N] [--whole B]\n");
  return 2;
}
