#include "survey/scanner.h"

#include <unistd.h>

#include <cerrno>

#include "platform/day_number.h"
#include "platform/dir_reader.h"
#include "platform/pseudo_fs.h"
#include "survey/figures.h"
#include "survey/folder_list.h"

namespace orbelan {
namespace {

constexpr std::string_view kCanceledText = "Operation canceled by user.";
constexpr std::string_view kPhase1Caption = "Scan for Folders";
constexpr std::string_view kPhase2Caption = "Scan all Files";

// Deep levels are rare and hold few entries: a smaller buffer keeps a very deep tree
// from costing memory per level.
constexpr std::size_t kShallowLevels = 64;
constexpr std::size_t kDeepLevelBuffer = 4096;

}  // namespace

struct Scanner::Level {
  explicit Level(std::size_t bufferSize) : reader(bufferSize) {}
  DirReader reader;
  std::size_t pathLength = 0;  // length of path_ while this level is open
  bool mountsBelow = false;    // a file system may begin somewhere below this folder
};

Scanner::Scanner(FolderList& folders, const Settings& settings, ScanObserver& observer)
    : folders_(folders),
      settings_(settings),
      observer_(observer),
      fileReader_(std::make_unique<DirReader>()),
      pseudoFs_(std::make_unique<PseudoFsDetector>()) {}

Scanner::~Scanner() { CloseBase(); }

void Scanner::CloseBase() {
  if (baseFd_ >= 0) close(baseFd_);
  baseFd_ = -1;
  basePath_.clear();
}

bool Scanner::Run(std::string_view startPath) {
  folders_.ResetFolderList();
  CancelRequested = false;
  CancelNoticeShown = false;
  FindFolders(std::string(startPath));
  if (!CancelRequested) ScanFiles();
  CloseBase();
  return !CancelRequested;
}

bool Scanner::CheckCancel() {
  observer_.PumpMessages();
  if (CancelRequested && !CancelNoticeShown && !observer_.AskCancel()) {
    CancelRequested = false;
    CancelNoticeShown = false;
  }
  if (observer_.QuitRequested()) CancelRequested = true;
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

void Scanner::FindFolders(std::string path) {
  if (path.empty() || path.back() != '/') path.push_back('/');
  CloseBase();
  RaiseOpenFileLimit();
  if (IsIgnoredPath(path, settings_)) return;

  Level& start = LevelAt(0);
  const bool opened = start.reader.OpenPath(path);
  if (!folders_.AddFolder(path, settings_)) {
    start.reader.Close();
    return;
  }
  observer_.FoldersFound(folders_.Count());
  if (!opened) return;  // a start that cannot be read keeps one record with zero counts

  baseFd_ = dup(start.reader.Fd());
  basePath_ = path;
  path_ = std::move(path);
  start.pathLength = path_.size();
  pseudoFs_->Begin(start.reader.Fd());
  start.mountsBelow = pseudoFs_->MountsBelow("");
  WalkFolders();
}

// Depth-first without recursion, so that the depth of a tree is bounded by descriptors,
// not by the stack. Each level keeps its folder open until its last entry.
void Scanner::WalkFolders() {
  std::size_t depth = 0;

  // Closes the folder at depth and returns to its parent, which then finishes the entry
  // that led down; false when the walk is over.
  auto leaveFolder = [&]() -> bool {
    for (;;) {
      LevelAt(depth).reader.Close();
      if (depth == 0) return false;
      --depth;
      path_.resize(LevelAt(depth).pathLength);
      if (!FolderEntryDone()) return true;
    }
  };

  for (;;) {
    Level& level = LevelAt(depth);
    DirEntry entry;
    if (!level.reader.Next(entry)) {
      if (!leaveFolder()) return;
      continue;
    }
    if (!entry.Hidden() && !CancelRequested &&
        level.reader.KindOf(entry) == EntryKind::Directory && EnterSubfolder(depth, entry)) {
      ++depth;
      continue;
    }
    if (FolderEntryDone() && !leaveFolder()) return;
  }
}

// Opens and records one subfolder; true when it is to be walked next.
bool Scanner::EnterSubfolder(std::size_t parentDepth, const DirEntry& entry) {
  Level& parent = LevelAt(parentDepth);
  Level& child = LevelAt(parentDepth + 1);
  const std::size_t parentLength = path_.size();

  const bool opened = child.reader.OpenChild(parent.reader.Fd(), entry.Name);
  if (!opened && (errno == ENOENT || errno == ENOTDIR || errno == ELOOP)) {
    return false;  // gone, or replaced by something that is not a folder
  }
  path_.append(entry.Name, entry.NameLength);
  path_.push_back('/');
  child.mountsBelow = false;
  if (parent.mountsBelow) {
    const std::string_view relative =
        std::string_view(path_).substr(basePath_.size(), path_.size() - basePath_.size() - 1);
    if (opened && pseudoFs_->MayBeMountPoint(relative) && pseudoFs_->IsPseudo(child.reader.Fd())) {
      child.reader.Close();
      path_.resize(parentLength);
      return false;
    }
    child.mountsBelow = pseudoFs_->MountsBelow(relative);
  }
  if (!folders_.AddFolder(path_, settings_)) {  // an ignored path: nothing below it either
    child.reader.Close();
    path_.resize(parentLength);
    return false;
  }
  observer_.FoldersFound(folders_.Count());
  if (!opened) {  // unreadable: recorded, with nothing below it
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

bool Scanner::OpenRecord(DirReader& reader, const FolderRec& rec) {
  const std::string_view path = rec.Path;
  if (baseFd_ >= 0 && path.substr(0, basePath_.size()) == basePath_) {
    std::string_view relative = path.substr(basePath_.size());
    if (!relative.empty() && relative.back() == '/') relative.remove_suffix(1);
    return reader.OpenBelow(baseFd_, relative);
  }
  return reader.OpenPath(path);
}

void Scanner::ScanFiles() {
  if (folders_.Empty()) return;
  const std::int64_t total = folders_.Count();
  observer_.ScanFilesStarted(total);

  LocalDayClock clock;
  DirReader& reader = *fileReader_;
  DirEntry entry;
  EntryStat stat;
  std::int64_t index = 0;
  for (FolderRec& rec : folders_) {
    observer_.FolderProgress(++index, total);
    if (OpenRecord(reader, rec)) {  // a folder gone since phase 1 keeps zero counts
      while (reader.Next(entry)) {
        if (!entry.Hidden() && !entry.TypeIsDirectory() && reader.Stat(entry.Name, stat) &&
            stat.Kind != EntryKind::Directory) {
          TallyFile(rec, entry.NameView(), stat.Size, clock.DayNumber(stat.Modified), settings_);
        }
        if (CheckCancel()) {
          observer_.ShowMsg(kCanceledText, kPhase2Caption);
          break;
        }
      }
      reader.Close();
    }
    if (CancelRequested) break;
  }
}

}  // namespace orbelan
