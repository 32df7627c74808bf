#include "scan/scanner.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <set>
#include <thread>

#include "platform/day_number.h"
#include "platform/dir_reader.h"
#include "platform/pseudo_fs.h"
#include "platform/start_path.h"
#include "scan/counting_crew.h"
#include "scan/descriptor_chain.h"
#include "scan/folder_list.h"
#include "scan/listing_handoff.h"
#include "scan/record_links.h"
#include "scan/scan_rules.h"

namespace orbelan {
namespace {

constexpr std::string_view kCanceledText = "Operation canceled by user.";
constexpr std::string_view kPhase1Caption = "Scan for Folders";
constexpr std::string_view kPhase2Caption = "Scan all Files";

// Deep levels are rare and hold few entries: a smaller buffer, given back while a subfolder
// is walked (parked: only the entries still to come are kept) and when the folder is left,
// keeps a very deep tree from costing a buffer per level.
constexpr std::size_t kShallowLevels = 64;
constexpr std::size_t kDeepLevelBuffer = 4096;

constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
// How long phase 1 waits for the workers to give descriptors back before it records a
// folder as one it could not read.
constexpr auto kDescriptorPatience = std::chrono::seconds(1);
// How long the scan's thread waits for the workers between two checks of its own.
constexpr auto kProgressPoll = std::chrono::milliseconds(5);

}  // namespace

struct Scanner::Level {
  explicit Level(std::size_t bufferSize) : reader(bufferSize) {}
  DirReader reader;
  std::size_t pathLength = 0;  // length of path_ while this level is open
  bool mountsBelow = false;    // a file system may begin somewhere below this folder
  std::int64_t record = -1;    // this folder's record

  // Given back for want of descriptors: the rest of the folder's entries were read ahead
  // (its subfolders by name, and how many other entries come before each and after the
  // last) and the folder closed; it is reopened only to open a subfolder.
  bool shed = false;
  std::vector<std::string> restNames;
  std::vector<std::uint32_t> restSkips;  // one more than restNames
  std::size_t restAt = 0;
  std::uint32_t skipped = 0;
  int fd = -1;  // the folder reopened while shed

  // The folder's entries, gathered as they pass for phase 2 (the listing handoff). All of
  // them, "." and ".." too: phase 2 then passes the same entries, and looks for a cancel
  // after each, as when it lists the folder.
  bool collecting = false;
  FolderEntries entries;

  int Fd() const { return shed ? fd : reader.Fd(); }
  void Reset() {
    reader.Close();
    collecting = false;
    entries.Clear();
    if (fd >= 0) close(fd);
    fd = -1;
    shed = false;
    restNames.clear();
    restSkips.clear();
    restAt = 0;
    skipped = 0;
  }
};

Scanner::Scanner(FolderList& folders, const ScanRules& rules, ScanObserver& observer)
    : folders_(folders),
      rules_(rules),
      observer_(observer),
      fileReader_(std::make_unique<DirReader>()),
      pseudoFs_(std::make_unique<PseudoFsDetector>()),
      links_(std::make_unique<RecordLinks>()),
      handoff_(std::make_unique<ListingHandoff>()),
      pressure_(std::make_unique<DescriptorPressure>()) {}

Scanner::~Scanner() {
  StopCrew();
  CloseBase();
}

bool Scanner::WorkersAtRest() const { return !crew_ || crew_->AtRest(); }

std::int64_t Scanner::FoldersCounted() const { return crew_ ? crew_->Finished() : 0; }

void Scanner::SetHandoffBound(std::size_t bytes) { handoff_ = std::make_unique<ListingHandoff>(bytes); }

void Scanner::SetThreads(int threads) { threads_ = std::clamp(threads, 1, kMaxThreads); }

int Scanner::DefaultThreads() {
  const unsigned cores = std::thread::hardware_concurrency();
  return std::clamp(static_cast<int>(cores), 1, kMaxThreads);
}

void Scanner::CloseBase() {
  for (auto& level : levels_) level->Reset();
  if (baseFd_ >= 0) close(baseFd_);
  baseFd_ = -1;
  basePath_.clear();
}

void Scanner::StopCrew() {
  if (!crew_) return;
  crew_->Stop();
  crew_->Join();
  for (std::string& path : crew_->TakeUnscanned()) unscanned_.push_back(std::move(path));
  crew_.reset();
}

bool Scanner::Run(std::string_view startPath) {
  folders_.ResetFolderList();
  links_->Clear();
  unscanned_.clear();
  CancelRequested = false;
  CancelNoticeShown = false;
  // Both phases run here, one after the other: phase 2 may count folders from the entries
  // phase 1 read.
  handoff_->Clear();
  handingOff_ = true;
  FindFolders(AbsoluteFolderPath(startPath));
  if (!CancelRequested) {
    if (!folders_.Empty()) {
      observer_.ScanFilesStarted(folders_.Count());
      if (threads_ > 1) ScanFilesWithCrew(); else ScanFilesHere();
    }
  } else if (crew_) {
    // The workers counted ahead of phase 1; a scan cancelled there has counted nothing.
    StopCrew();
    for (FolderRec& rec : folders_) rec.ClearCounts();
  }
  StopCrew();
  CloseBase();
  links_->Clear();
  handingOff_ = false;
  handoff_->Clear();
  // A folder phase 1 could not enter may have failed phase 2 as well: name it once.
  std::set<std::string> named;
  std::erase_if(unscanned_, [&](const std::string& path) { return !named.insert(path).second; });
  return !CancelRequested;
}

bool Scanner::CheckCancel() {
  observer_.PumpMessages();
  if (CancelRequested && !CancelNoticeShown) {
    if (crew_) crew_->Pause();  // nothing moves while the user is asked
    if (!observer_.AskCancel()) {
      CancelRequested = false;
      CancelNoticeShown = false;
      if (crew_) crew_->Resume();
    }
  }
  if (observer_.QuitRequested()) CancelRequested = true;
  if (CancelRequested && crew_) crew_->Stop();
  return CancelRequested;
}

Scanner::Level& Scanner::LevelAt(std::size_t depth) {
  while (levels_.size() <= depth) {
    const std::size_t size =
        levels_.size() < kShallowLevels ? DirReader::kDefaultBuffer : kDeepLevelBuffer;
    levels_.push_back(std::make_unique<Level>(size));
  }
  return *levels_[depth];
}

bool Scanner::AddRecord(const std::string& path, std::int64_t parent, std::size_t depth) {
  const FolderRec* parentRec = parent >= 0 ? (*links_)[parent].Rec : nullptr;
  if (!folders_.AddFolder(path, rules_, parentRec)) return false;
  links_->Append(RecordLink{folders_.Tail(), parent, static_cast<std::uint32_t>(depth)});
  if (handingOff_) handoff_->Grow(links_->Size());
  if (crew_) crew_->Publish(links_->Size());
  return true;
}

void Scanner::FindFolders(std::string path) {
  if (path.empty() || path.back() != '/') path.push_back('/');
  StopCrew();
  CloseBase();
  RaiseOpenFileLimit();
  if (links_->Size() != folders_.Count()) links_->BuildFrom(folders_);
  if (IsIgnoredPath(path, rules_)) return;

  Level& start = LevelAt(0);
  start.Reset();
  const bool opened = start.reader.OpenPath(path);
  if (!AddRecord(path, -1, 0)) {
    start.reader.Close();
    return;
  }
  start.record = folders_.Count() - 1;
  observer_.FoldersFound(folders_.Count());
  if (!opened) {  // a start that cannot be read keeps one record with zero counts
    if (OutOfDescriptors(errno)) unscanned_.push_back(path);
    return;
  }

  baseFd_ = dup(start.reader.Fd());
  basePath_ = path;
  path_ = std::move(path);
  start.pathLength = path_.size();
  pseudoFs_->Begin(start.reader.Fd());
  start.mountsBelow = pseudoFs_->MountsBelow("");
  start.collecting = handingOff_;
  if (threads_ > 1 && baseFd_ >= 0 && start.record == 0) {
    crew_ = std::make_unique<CountingCrew>(*links_, rules_, baseFd_, *pressure_, threads_, draws_, Handoff());
    crew_->Publish(links_->Size());
  }
  WalkFolders();
}

bool Scanner::NextEntry(Level& level, DirEntry& entry, bool& folder) {
  if (!level.shed) {
    if (!level.reader.Next(entry)) return false;
    folder = !entry.Hidden() && level.reader.KindOf(entry) == EntryKind::Directory;
    if (level.collecting) {
      level.entries.Add(entry);
      if (!handoff_->Room(level.entries.Bytes())) {  // too many to hold: phase 2 lists it
        level.collecting = false;
        level.entries.Clear();
      }
    }
    return true;
  }
  if (level.skipped < level.restSkips[level.restAt]) {  // an entry that is not a subfolder
    ++level.skipped;
    entry = DirEntry{};
    folder = false;
    return true;
  }
  if (level.restAt == level.restNames.size()) return false;
  const std::string& name = level.restNames[level.restAt++];
  level.skipped = 0;
  entry.Name = name.c_str();
  entry.NameLength = name.size();
  entry.Type = DT_DIR;
  folder = true;
  return true;
}

// Depth-first without recursion, so that the depth of a tree is bounded by descriptors,
// not by the stack. Each level keeps its folder open until its last entry, unless it has to
// give its descriptor back.
void Scanner::WalkFolders() {
  std::size_t depth = 0;

  // Closes the folder at depth and returns to its parent, which then finishes the entry
  // that led down; false when the walk is over.
  auto leaveFolder = [&]() -> bool {
    for (;;) {
      Level& done = LevelAt(depth);
      done.Reset();
      if (depth >= kShallowLevels) done.reader.ReleaseBuffer();
      if (depth == 0) return false;
      --depth;
      path_.resize(LevelAt(depth).pathLength);
      if (!FolderEntryDone()) return true;
    }
  };

  for (;;) {
    Level& level = LevelAt(depth);
    DirEntry entry;
    bool folder = false;
    if (!NextEntry(level, entry, folder)) {
      if (level.collecting && !level.shed && level.reader.ReadToEnd())
        handoff_->Offer(level.record, level.entries);
      if (!leaveFolder()) return;
      continue;
    }
    if (folder && !CancelRequested && EnterSubfolder(depth, entry)) {
      if (depth >= kShallowLevels) level.reader.Park();
      ++depth;
      continue;
    }
    if (FolderEntryDone() && !leaveFolder()) return;
  }
}

void Scanner::ShedLevel(Level& level) {
  if (level.shed) {
    if (level.fd >= 0) close(level.fd);
    level.fd = -1;
    return;
  }
  level.restNames.clear();
  level.restSkips.clear();
  level.collecting = false;  // what it gathered is lost with the buffer: phase 2 lists it
  level.entries.Clear();
  std::uint32_t skipped = 0;
  DirEntry entry;
  while (level.reader.Next(entry)) {
    if (!entry.Hidden() && level.reader.KindOf(entry) == EntryKind::Directory) {
      level.restSkips.push_back(skipped);
      level.restNames.emplace_back(entry.Name, entry.NameLength);
      skipped = 0;
    } else {
      ++skipped;
    }
  }
  level.restSkips.push_back(skipped);
  level.restAt = 0;
  level.skipped = 0;
  level.reader.Close();
  level.reader.ReleaseBuffer();  // what is left is in restNames
  level.shed = true;
  level.fd = -1;
}

// Gives back the descriptors of the shallower half of the folders above parentDepth (the
// start stays: the others are reopened from it). The number given back.
std::size_t Scanner::ShedLevels(std::size_t parentDepth) {
  std::size_t open = 0;
  for (std::size_t d = 1; d < parentDepth; ++d) open += LevelAt(d).Fd() >= 0 ? 1 : 0;
  const std::size_t toShed = (open + 1) / 2;
  std::size_t shed = 0;
  for (std::size_t d = 1; d < parentDepth && shed < toShed; ++d) {
    Level& level = LevelAt(d);
    if (level.Fd() < 0) continue;
    ShedLevel(level);
    ++shed;
    // Thousands of levels take tens of milliseconds to give back: the window stays live.
    // A cancel asked meanwhile is answered at the next entry, as ever.
    observer_.PumpMessages();
  }
  return shed;
}

// Reopens a folder that gave its descriptor back, from the nearest folder above it that
// still holds one.
bool Scanner::EnsureLevelFd(std::size_t depth) {
  if (LevelAt(depth).Fd() >= 0) return true;
  std::size_t from = depth;
  while (from > 0 && LevelAt(from - 1).Fd() < 0) --from;
  if (from == 0) {
    errno = ENOENT;
    return false;
  }
  const Level& above = LevelAt(from - 1);
  Level& level = LevelAt(depth);
  const std::string relative =
      path_.substr(above.pathLength, level.pathLength - above.pathLength - 1);
  level.fd = OpenFolderBelow(above.Fd(), relative);
  return level.fd >= 0;
}

int Scanner::OpenSubfolder(std::size_t parentDepth, const char* name) {
  const auto deadline = std::chrono::steady_clock::now() + kDescriptorPatience;
  for (;;) {
    int fd = -1;
    if (EnsureLevelFd(parentDepth))
      fd = openat(LevelAt(parentDepth).Fd(), name, kDirFlags | O_NOFOLLOW);
    if (fd >= 0 || !OutOfDescriptors(errno)) return fd;
    const int error = errno;
    if (ShedLevels(parentDepth) > 0) continue;
    // Nothing of phase 1's own left to give: ask the workers, and wait a little for them.
    // Without workers nobody else holds any of the scan's: waiting would only cost time.
    pressure_->Requests.fetch_add(1, std::memory_order_relaxed);
    if (!crew_ || std::chrono::steady_clock::now() > deadline) {
      errno = error;
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// Opens and records one subfolder; true when it is to be walked next.
bool Scanner::EnterSubfolder(std::size_t parentDepth, const DirEntry& entry) {
  Level& parent = LevelAt(parentDepth);
  Level& child = LevelAt(parentDepth + 1);
  const std::size_t parentLength = path_.size();

  child.Reset();
  const int fd = OpenSubfolder(parentDepth, entry.Name);
  const int openErrno = errno;
  const bool opened = fd >= 0;
  if (!opened && (openErrno == ENOENT || openErrno == ENOTDIR || openErrno == ELOOP)) {
    return false;  // gone, or replaced by something that is not a folder
  }
  if (opened) child.reader.Take(fd);
  path_.append(entry.Name, entry.NameLength);
  path_.push_back('/');
  child.mountsBelow = false;
  if (parent.mountsBelow) {
    const std::string_view relative =
        std::string_view(path_).substr(basePath_.size(), path_.size() - basePath_.size() - 1);
    if (opened && pseudoFs_->MayBeMountPoint(relative) && pseudoFs_->IsPseudo(child.reader.Fd())) {
      child.Reset();
      path_.resize(parentLength);
      return false;
    }
    child.mountsBelow = pseudoFs_->MountsBelow(relative);
  }
  if (!AddRecord(path_, parent.record, parentDepth + 1)) {  // ignored: nothing below it either
    child.Reset();
    path_.resize(parentLength);
    return false;
  }
  child.record = folders_.Count() - 1;
  child.collecting = handingOff_;
  observer_.FoldersFound(folders_.Count());
  if (!opened) {  // unreadable: recorded, with nothing below it
    if (OutOfDescriptors(openErrno)) unscanned_.push_back(path_);
    path_.resize(parentLength);
    return false;
  }
  child.pathLength = path_.size();
  return true;
}

// The cancel check after one entry of phase 1; true when this folder is to be left.
bool Scanner::FolderEntryDone() {
  if (!CheckCancel()) return false;
  if (!CancelNoticeShown) observer_.ShowMsg(kCanceledText, kPhase1Caption);
  CancelNoticeShown = true;
  return true;
}

void Scanner::ScanFiles() {
  if (folders_.Empty()) return;
  // A list made elsewhere: learn how its records hang together from their paths.
  links_->BuildFrom(folders_);
  unscanned_.clear();
  observer_.ScanFilesStarted(folders_.Count());
  if (threads_ > 1) ScanFilesWithCrew(); else ScanFilesHere();
  StopCrew();
  links_->Clear();
}

void Scanner::ScanFilesHere() {
  const std::int64_t total = links_->Size();
  LocalDayClock clock;
  DescriptorChain chain(*links_, baseFd_, *pressure_, /*alone=*/true);
  FileDrawer drawer(draws_);
  ListingHandoff* handoff = Handoff();
  for (std::int64_t index = 0; index < total; ++index) {
    observer_.FolderProgress(index + 1, total);
    FolderRec& rec = *(*links_)[index].Rec;
    const int fd = chain.Reach(index);
    const std::unique_ptr<std::string> listed = handoff != nullptr ? handoff->Take(index) : nullptr;
    if (fd >= 0) {
      CountFolderFiles(*fileReader_, fd, rec, rules_, clock, [&] {
        if (!CheckCancel()) return false;
        observer_.ShowMsg(kCanceledText, kPhase2Caption);
        return true;
      }, &drawer, listed.get());
    } else if (OutOfDescriptors(errno)) {
      unscanned_.push_back(rec.Path());
    }  // a folder gone since phase 1 keeps zero counts
    if (CancelRequested) break;
  }
}

void Scanner::ScanFilesWithCrew() {
  const std::int64_t total = links_->Size();
  if (!crew_)
    crew_ = std::make_unique<CountingCrew>(*links_, rules_, baseFd_, *pressure_, threads_, draws_, Handoff());
  crew_->Close(total);
  std::int64_t reported = 0;
  for (;;) {
    const std::int64_t finished = crew_->Finished();
    while (reported < finished) observer_.FolderProgress(++reported, total);
    if (CheckCancel()) {
      StopCrew();  // every worker has stopped before the notice shows
      observer_.ShowMsg(kCanceledText, kPhase2Caption);
      return;
    }
    if (reported >= total) break;
    crew_->WaitForProgress(kProgressPoll);
  }
  StopCrew();
}

}  // namespace orbelan
