#include "archive/trash_stage.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <memory>

#include "archive/unchanged_trash.h"
#include "platform/dir_reader.h"
#include "platform/open_writers.h"

namespace orbelan {
namespace {

// Tries at a name that another program took in files/ between the claim and the move.
constexpr int kNameRetries = 3;

struct Fd {
  int fd = -1;
  explicit Fd(int f) : fd(f) {}
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
};

// One member in a batch: where it is, its claim, how it went.
struct Slot {
  std::size_t Index = 0;
  int FolderFd = -1;
  std::string Leaf;
  std::string Folder;  // relative, without "/"; empty for the top folder
  TrashClaim Claim;
  bool Claimed = false;
  MemberMove Move;
};

bool SeesEveryProcess() { return ::geteuid() == 0; }

void NoteChanged(ZipResult& result, const ZipMember& m, const std::string& why) {
  result.Changed.push_back(m.Name);
  result.ChangedWhy.push_back(why);
}

void NoteRefused(ZipResult& result, const ZipMember& m, const std::string& why) {
  result.NotTrashed.push_back(m.Name);
  result.NotTrashedWhy.push_back(why);
}

}  // namespace

std::size_t TrashBatchSize() {
  // Two descriptors a member at most (its record, and the file while it moves), well
  // within the soft limit whatever else the program holds open.
  rlimit limit {};
  std::size_t budget = 1024;
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
    budget = static_cast<std::size_t>(limit.rlim_cur);
  return std::clamp<std::size_t>(budget > 256 ? (budget - 128) / 2 : 16, 16, 256);
}

// Moving a name to the trash changes its file's change time, which every other name of
// the file shares: the move of one name of a hard-linked file would make the next look
// changed. So the change time the file has after a move proved to be ours is what the
// next of its names is checked against; any other change still shows.
struct TrashStage::Progress {
  std::map<FileId, struct timespec> MovedAt;
  std::deque<std::pair<std::size_t, int>> Queue;  // member index, tries so far
  std::size_t BatchSize = 0;
};

struct TrashStage::Batch {
  // The batch's folders, each opened once below the plan's folder without following a
  // link on the way: a folder swapped for a link meanwhile leads nowhere.
  std::map<std::string, std::unique_ptr<Fd>> Folders;
  std::vector<Slot> Slots;
  std::vector<int> Tries;
};

void TrashStage::Run(ZipResult& result) {
  const std::vector<ZipMember>& members = Plan.Members;
  Progress progress;
  for (std::size_t i = 0; i < members.size(); ++i) progress.Queue.emplace_back(i, 0);
  progress.BatchSize = TrashBatchSize();

  while (!progress.Queue.empty()) {
    if (Cancel) {
      result.TrashStopped = true;
      result.NotReached = static_cast<std::int64_t>(progress.Queue.size());
      break;
    }
    Batch taken;
    TakeBatch(progress, taken, result);
    if (taken.Slots.empty()) continue;
    if (!MakeClaimsDurable(taken, result)) continue;
    const std::size_t moved = MoveBatch(progress, taken);
    CheckUnleased(progress, taken, moved);
    SettleBatch(progress, taken, moved, result);
  }
  // The moves made durable once, at the end: the next batch's sync already carries the
  // moves before it, and a move lost to a crash leaves its file in place (its record then
  // goes with the next clean-up), which the promise allows.
  if (result.TrashedFiles > 0) Trash.SyncMoves(FolderFd);
}

// Takes members from the queue into the batch, each with its folder open and a name
// claimed in the trash; those that cannot be are done with.
void TrashStage::TakeBatch(Progress& progress, Batch& taken, ZipResult& result) {
  const std::vector<ZipMember>& members = Plan.Members;
  std::deque<std::pair<std::size_t, int>>& queue = progress.Queue;
  const std::size_t batchSize = progress.BatchSize;
  std::map<std::string, std::unique_ptr<Fd>>& folders = taken.Folders;
  std::map<std::string, int> folderErrors;
  std::vector<Slot>& batch = taken.Slots;
  std::vector<int>& tries = taken.Tries;
  while (!queue.empty() && batch.size() < batchSize) {
    const auto [index, tried] = queue.front();
    queue.pop_front();
    const ZipMember& m = members[index];
    Slot slot;
    slot.Index = index;
    const std::size_t slash = m.Name.rfind('/');
    slot.Leaf = slash == std::string::npos ? m.Name : m.Name.substr(slash + 1);
    slot.Folder = slash == std::string::npos ? std::string() : m.Name.substr(0, slash);
    if (slot.Folder.empty()) {
      slot.FolderFd = FolderFd;
    } else {
      auto it = folders.find(slot.Folder);
      if (it == folders.end()) {
        const int opened = OpenFolderBelow(FolderFd, slot.Folder);
        if (opened < 0) folderErrors[slot.Folder] = errno;
        it = folders.emplace(slot.Folder, std::make_unique<Fd>(opened)).first;
      }
      slot.FolderFd = it->second->fd;
    }
    if (slot.FolderFd < 0) {
      const int error = folderErrors[slot.Folder];
      if (error == ENOENT) result.Gone.push_back(m.Name);
      else NoteChanged(result, m, error == ELOOP || error == ENOTDIR ? "its folder was replaced" : std::strerror(error));
      ++Done;
      continue;
    }
    std::string why;
    if (!Trash.Claim(m.Name, slot.Claim, &why)) {
      NoteRefused(result, m, why);
      ++Done;
      continue;
    }
    slot.Claimed = true;
    batch.push_back(std::move(slot));
    tries.push_back(tried);
  }
}

// The batch's records written and made durable at once; when they cannot be, its claims
// are dropped and its members refused.
bool TrashStage::MakeClaimsDurable(Batch& taken, ZipResult& result) {
  const std::vector<ZipMember>& members = Plan.Members;
  std::vector<Slot>& batch = taken.Slots;
  std::vector<TrashClaim> claims;
  for (const Slot& s : batch) claims.push_back(s.Claim);
  std::string why;
  if (!Trash.MakeDurable(claims, &why)) {
    for (Slot& s : batch) {
      Trash.Drop(s.Claim);
      NoteRefused(result, members[s.Index], why);
      ++Done;
    }
    return false;
  }
  return true;
}

// Moves the batch's files one by one, each if it is unchanged and idle; how many had
// their turn before a cancel.
std::size_t TrashStage::MoveBatch(Progress& progress, Batch& taken) {
  const std::vector<ZipMember>& members = Plan.Members;
  std::map<FileId, struct timespec>& movedAt = progress.MovedAt;
  std::vector<Slot>& batch = taken.Slots;
  IdleProof proof;
  proof.UseLeases = Options.UseLeases;
  bool writersLooked = false;
  auto lookForWriters = [&](std::vector<Slot>& slots) {
    // Once a batch, where a lease cannot be had: every process's open files, when they
    // can all be seen.
    std::set<FileId> ids;
    for (const Slot& s : slots) ids.insert({members[s.Index].Device, members[s.Index].Inode});
    return SeesEveryProcess() ? FilesOpenForWriting(ids) : std::nullopt;
  };

  std::size_t moved = 0;
  for (; moved < batch.size(); ++moved) {
    if (Cancel) break;
    Slot& s = batch[moved];
    ZipMember m = members[s.Index];
    const FileId key{m.Device, m.Inode};
    if (m.Links > 1) {
      if (const auto at = movedAt.find(key); at != movedAt.end()) {
        m.CtimeSec = static_cast<std::int64_t>(at->second.tv_sec);
        m.CtimeNsec = static_cast<std::int64_t>(at->second.tv_nsec);
      }
    }
    if (!writersLooked && !Options.UseLeases) {
      proof.Writers = lookForWriters(batch);
      writersLooked = true;
    }
    s.Move = TrashIfUnchanged(Trash, s.Claim, s.FolderFd, s.Leaf, m, proof, Buffer, BufferSize, Options.BeforeMove);
    // A lease refused for want of rights (not the owner) or support: the batch's writers
    // are looked for once, and this member checked again with them.
    if (s.Move.Check == TrashCheck::InUse && s.Move.NoLease && !writersLooked && SeesEveryProcess()) {
      proof.Writers = lookForWriters(batch);
      writersLooked = true;
      if (proof.Writers)
        s.Move = TrashIfUnchanged(Trash, s.Claim, s.FolderFd, s.Leaf, m, proof, Buffer, BufferSize, Options.BeforeMove);
    }
    if (s.Move.Check == TrashCheck::Trashed) {
      if (s.Move.MovedAt) movedAt[key] = *s.Move.MovedAt;
      else movedAt.erase(key);  // not proved ours: its other names will show as changed
      if (Options.AfterMove) Options.AfterMove(m, TrashEntry{Trash.Path(), s.Claim.Name, s.Claim.Original});
    }
  }
  return moved;
}

// Without a lease, a writer that came after the look shows now: still holding the file,
// or by a change since the move.
void TrashStage::CheckUnleased(Progress& progress, Batch& taken, std::size_t moved) {
  const std::vector<ZipMember>& members = Plan.Members;
  const std::map<FileId, struct timespec>& movedAt = progress.MovedAt;
  std::vector<Slot>& batch = taken.Slots;
  std::vector<Slot*> unleased;
  for (std::size_t k = 0; k < moved; ++k)
    if (batch[k].Move.Check == TrashCheck::Trashed && !batch[k].Move.Leased) unleased.push_back(&batch[k]);
  if (unleased.empty()) return;
  std::set<FileId> ids;
  for (const Slot* s : unleased) ids.insert({members[s->Index].Device, members[s->Index].Inode});
  const std::optional<std::set<FileId>> writers = FilesOpenForWriting(ids);
  for (Slot* s : unleased) {
    const ZipMember& m = members[s->Index];
    struct stat inTrash {};
    // The file in files/ (not followed) as read, and touched by nothing since the move.
    // A later name of the same file moved since: its change time is the one to hold.
    const auto last = movedAt.find({m.Device, m.Inode});
    const bool same = last != movedAt.end() && writers && !writers->count({m.Device, m.Inode}) &&
                      Trash.Stat(s->Claim, inTrash) && static_cast<std::uint64_t>(inTrash.st_ino) == m.Inode &&
                      static_cast<std::uint64_t>(inTrash.st_dev) == m.Device && inTrash.st_size == m.Size &&
                      inTrash.st_mtim.tv_sec == m.MtimeSec && inTrash.st_mtim.tv_nsec == m.MtimeNsec &&
                      inTrash.st_ctim.tv_sec == last->second.tv_sec && inTrash.st_ctim.tv_nsec == last->second.tv_nsec;
    if (same) continue;
    if (Trash.MoveBack(s->Claim, s->FolderFd, s->Leaf) == 0) {
      s->Move.Check = TrashCheck::InUse;
      s->Move.Why = "written to while it moved";
    } else {
      s->Move.Why = "written to while it moved, and it could not be put back";
    }
  }
}

// Each member of the batch kept in the trash or given back its name there, by how its
// move went; those a cancel stopped before their turn, and those whose name was taken,
// go back to the queue.
void TrashStage::SettleBatch(Progress& progress, Batch& taken, std::size_t moved, ZipResult& result) {
  const std::vector<ZipMember>& members = Plan.Members;
  std::deque<std::pair<std::size_t, int>>& queue = progress.Queue;
  std::vector<Slot>& batch = taken.Slots;
  std::vector<int>& tries = taken.Tries;
  for (std::size_t k = 0; k < batch.size(); ++k) {
    Slot& s = batch[k];
    const ZipMember& m = members[s.Index];
    if (k >= moved) {  // stopped before its turn
      Trash.Drop(s.Claim);
      queue.emplace_front(s.Index, tries[k]);
      continue;
    }
    switch (s.Move.Check) {
      case TrashCheck::Trashed: {
        TrashEntry entry = Trash.Keep(s.Claim);
        ++result.TrashedFiles;
        result.TrashedBytes += m.Size;
        Trashed.push_back(&m);
        result.Trashed.push_back(std::move(entry));
        if (!s.Folder.empty()) TrashedFrom.insert(s.Folder);
        break;
      }
      case TrashCheck::NameTaken:
        Trash.Drop(s.Claim);
        if (tries[k] + 1 < kNameRetries) {
          queue.emplace_back(s.Index, tries[k] + 1);
          continue;  // counted when it is done
        }
        NoteRefused(result, m, "no free name was found in " + Trash.Path() + "/files");
        break;
      case TrashCheck::Changed:
      case TrashCheck::InUse:
        if (s.Move.StrangerInTrash) Trash.Keep(s.Claim);
        else Trash.Drop(s.Claim);
        NoteChanged(result, m, s.Move.Why);
        break;
      case TrashCheck::Gone:
        Trash.Drop(s.Claim);
        result.Gone.push_back(m.Name);
        break;
      case TrashCheck::Refused:
        Trash.Drop(s.Claim);
        NoteRefused(result, m, s.Move.Why);
        break;
    }
    ++Done;
  }
}

}  // namespace orbelan
