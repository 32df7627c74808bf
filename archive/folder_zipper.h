#pragma once
// Zipping one folder's own files into a .zip inside it, so that nothing is lost on the way:
// the archive is written under a temporary hidden name, flushed to disk, read back and
// compared with what was read from the originals, and only then given its final name;
// then each original that is still as it was read goes to the trash (never unlinked).
// No Qt: the window runs this on a worker thread and reads the progress it publishes.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/trash.h"
#include "fsfacts/fs_compression.h"

namespace orbelan {

class DirReader;
class FolderTrash;
struct ScanRules;

// One file to go into the archive, as it was when last seen.
struct ZipMember {
  std::string Name;  // the name's bytes as on disk, relative to the plan's folder
  std::int64_t Size = 0;
  std::int64_t MtimeSec = 0;
  std::int64_t MtimeNsec = 0;
  std::int64_t CtimeSec = 0;   // changes with every write, even one whose mtime is put back
  std::int64_t CtimeNsec = 0;
  std::int64_t Allocated = 0;  // disk space its blocks take (st_blocks * 512)
  std::uint64_t Links = 1;     // hard links: its blocks go only with the last of its names
  // Of Allocated, blocks in extents shared with other files or snapshots (reflinked copies
  // on btrfs or XFS): they stay in use when the file goes. Asked only where they can be.
  std::int64_t Shared = 0;
  // Of Allocated, what the file system's own compression spares (btrfs counts blocks before
  // compressing them), estimated by compressing its data as the file system does. Known
  // once the file has been read for the archive; 0 before and elsewhere.
  std::int64_t FsSaved = 0;
  std::uint64_t Inode = 0;
  std::uint64_t Device = 0;
  std::uint32_t Mode = 0;  // permission bits
  std::uint32_t Uid = 0;
  std::uint32_t Gid = 0;
  std::uint32_t Crc = 0;   // CRC-32 of the bytes read into the archive (after writing)
  bool Stored = false;     // kept uncompressed because deflate would not shrink it
  std::int64_t Packed = 0; // bytes of its data in the archive (after writing)
};

// A folder below a subtree's top whose files go into the archive: removed after the zip
// when it is left empty of everything, and made again by undo.
struct ZipSubfolder {
  std::string Name;  // relative to the plan's folder, no trailing "/"
  std::uint32_t Mode = 0755;  // permission bits, for undo
  std::uint64_t Inode = 0;
  std::uint64_t Device = 0;
};

// What zipping a folder will do, made before anything is written.
struct ZipPlan {
  std::string Folder;       // the folder's real path, ending in "/" (links resolved)
  // The path the folder was given by, ending in "/": a scan started through a link records
  // its folders by it, so the window finds the folder's row by this one.
  std::string GivenFolder;
  std::uint64_t FolderDevice = 0;  // the folder planned: a run refuses any other at its path
  std::uint64_t FolderInode = 0;
  std::vector<ZipMember> Members;  // sorted by name
  std::int64_t Bytes = 0;   // sum of the members' sizes
  // Disk space the members' blocks take, each file once however many of its names are
  // members, files with a name elsewhere left out: the most that emptying the trash can give
  // back (the archive's own blocks still to be taken off).
  std::int64_t Allocated = 0;
  std::int64_t HardLinked = 0;    // members whose file has a name that is no member: they free nothing
  std::int64_t LinkedTogether = 0;  // members whose file has several names, all members: counted once
  std::int64_t SharedBlocks = 0;    // left out of Allocated: extents shared with other files or snapshots
  bool SharesExtents = false;       // on a file system whose files may share extents
  FsCompression Compression;        // and what it compresses, and how
  // Most of the members' blocks are shared (a snapshot holds them): so is their inline data.
  bool InlineShared = false;
  std::int64_t BlockBytes = 4096;  // the file system's allocation unit
  // Hidden files in the folder named like temporary archives: the run moves to the trash
  // those that prove to be abandoned ones of ours (TrashAbandonedTemporaries).
  std::vector<std::string> Temporaries;
  std::int64_t StaleRecords = 0;   // trash records of ours without their file taken away
  // Files left out because a zip cannot hold what they carry besides their bytes (extended
  // attributes, ACLs): they stay in the folder, named.
  std::vector<std::string> WithMetadata;
  std::string ArchiveName;  // the name the archive will get (a number is added if it is taken)
  // A subtree's plan (PlanSubtree): the folders with files that go in, the top one among
  // them; the subfolders below the top, sorted by name; those left out, with everything below them,
  // because they are on another file system (relative names).
  bool Subtree = false;
  std::int64_t Folders = 1;
  std::vector<ZipSubfolder> Subfolders;
  std::vector<std::string> OtherFileSystems;
};

enum class ZipStage : int { Listing, Reading, Verifying, Trashing };

enum class ZipOutcome {
  Done,       // archive in place; see the result for what went to the trash
  Refused,    // a precondition failed; nothing was written
  Failed,     // something went wrong while writing or verifying; the temporary archive is gone
  Cancelled,  // stopped on request before the archive got its name; the temporary archive is gone
};

struct ZipResult {
  ZipOutcome Outcome = ZipOutcome::Done;
  std::string Message;           // why it was refused or failed (bytes of names as on disk)
  std::string ArchiveName;       // final name inside the folder
  std::int64_t ArchiveBytes = 0;
  std::int64_t Files = 0;        // members written
  std::int64_t Bytes = 0;        // their sizes added up
  std::int64_t ArchiveAllocated = 0;  // disk space the archive's blocks take
  std::int64_t TrashedFiles = 0;
  std::int64_t TrashedBytes = 0;
  // Disk space that comes back when the trash is emptied: the blocks of the files whose
  // every name went to the trash, each once, less the archive's. May be below zero.
  std::int64_t Freed = 0;
  // Trashed members that give back nothing: their file keeps a name outside the trash (one
  // that was never a member, or one that stayed because it changed or the trash refused it).
  std::int64_t TrashedHeld = 0;
  // Blocks of the trashed files that other files or snapshots share: they stay in use.
  std::int64_t TrashedShared = 0;
  // Freed counts the trashed files' blocks as the file system stores them compressed:
  // estimated, not told.
  bool FreedEstimated = false;
  std::vector<TrashEntry> Trashed;      // where each trashed original went
  std::vector<std::string> Changed;     // changed since read, or in use: left where they are
  std::vector<std::string> NotTrashed;  // the trash refused them: left where they are
  std::vector<std::string> NotTrashedWhy;  // the trash's reason, one for each of NotTrashed
  std::vector<std::string> WithMetadata;   // left out of the archive (see ZipPlan)
  // Files that could not be opened or read (no permission, an I/O error, gone, no longer
  // an ordinary file): left out of the archive and where they are; the others were zipped.
  // Parallel vectors: the name (relative to the folder) and the system's reason.
  std::vector<std::string> Unreadable;
  std::vector<std::string> UnreadableWhy;
  // A subtree's zip: the folders whose files went in, the subfolders left empty and so
  // removed, and those left out on another file system (see ZipPlan).
  bool Subtree = false;
  std::int64_t Folders = 1;
  std::int64_t FoldersRemoved = 0;
  std::vector<std::string> OtherFileSystems;
  // Why each of Changed stayed: changed since it was read, replaced, or in use (open for
  // writing, or not provably idle where no lease can be had), one for each.
  std::vector<std::string> ChangedWhy;
  // Members deleted (or moved away with their folder) after they were read: in the archive,
  // in neither the folder nor the trash.
  std::vector<std::string> Gone;
  // The trash stage was stopped on request (Esc, Ctrl+C) between files: those in Trashed
  // went, NotReached members stayed in place unlooked at.
  bool TrashStopped = false;
  std::int64_t NotReached = 0;
};

struct ZipOptions {
  // The home trash folder: originals on its file system go there, others to the trash at
  // the top of their own (freedesktop.org Trash). A plan and each run remove the records
  // of ours that killed moves left. Default HomeTrashFolder().
  std::optional<std::string> HomeTrash;
  // Free bytes for an unprivileged writer in the folder open at folderFd; nullopt when
  // unknown. Default: statvfs. Tests report little space through it.
  std::function<std::optional<std::int64_t>(int folderFd)> FreeSpace;
  // Test seams: just before a member is opened for reading, and once before trashing.
  std::function<void(const ZipMember& member)> BeforeRead;
  std::function<void()> BeforeTrash;
  // Called as each stage after listing begins (tests stop a run there).
  std::function<void(ZipStage stage)> AtStage;
  // Whether to prove a file idle by a read lease before trashing it; off (as where leases
  // cannot be had), the file is read again and its CRC compared, and it goes only where no
  // process can be seen holding it for writing (root sees them all; others keep it).
  bool UseLeases = true;
  // dpkg's lists of installed packages' files (system folders are refused); default
  // /var/lib/dpkg/info.
  std::string DpkgInfo;
  // The user's home folder, refused as a whole; default $HOME.
  std::optional<std::string> HomeFolder;
  // The date in the archive's name, "YYYY-MM-DD"; default today's local date.
  std::string Date;
  // Test seams of the trash stage, on the worker: between a member's check (its lease held)
  // and its move into the trash, and just after it moved (where it went in entry).
  std::function<void(const ZipMember& member)> BeforeMove;
  std::function<void(const ZipMember& member, const TrashEntry& entry)> AfterMove;
};

class FolderZipper {
 public:
  explicit FolderZipper(ZipOptions options);

  // Lists the folder's own regular files that count as unzipped (not hidden, not ignored,
  // not archives; no links, pipes or devices) and checks everything that can be checked
  // before writing: a real folder that is not a file system's root, the home folder nor a
  // system folder (platform/system_folders.h), named by its real path from then on,
  // writable, with files, and room for the archive. Refused results carry the message.
  ZipResult Plan(const std::string& folderPath, const ScanRules& rules, ZipPlan& plan);

  // Plans zipping the given files of folderPath into one archive in it: names relative to
  // the folder, "sub/file" for files in its subfolders (no links, "." or ".." on the way).
  // The same checks and refusals as Plan; undo puts such files back in their subfolders.
  ZipResult PlanFiles(const std::string& folderPath, const std::vector<std::string>& names,
                      ZipPlan& plan);

  // Plans zipping folderPath with everything below it into one archive in it: the files
  // Plan would zip in the folder and in each of subfolders, the real paths of the recorded
  // folders below it as a scan records them (each ending in "/"; see RecordedSubfolders,
  // scan/recorded_subfolders.h).
  // A subfolder on another file system than folderPath is left out with everything below
  // it and named; one that is gone or became a link is passed over. Members are named
  // "sub/file" relative to folderPath. The same checks and refusals as Plan.
  ZipResult PlanSubtree(const std::string& folderPath, const std::vector<std::string>& subfolders,
                        const ScanRules& rules, ZipPlan& plan);

  // Writes, verifies, names the archive and trashes the originals: the stages below in
  // turn. Members get their CRC and storage filled in.
  ZipResult Run(ZipPlan& plan);

  // Moves to the trash the plan's Temporaries that earlier runs left (killed, crashed):
  // only those unlocked, owned by this user, with no other name, and empty or starting as a
  // zip does; anything else is left alone. Run does this once the trash is prepared, never
  // the plan, so nothing is touched before the user agrees. The number moved.
  std::int64_t TrashAbandonedTemporaries(const ZipPlan& plan, int folderFd, FolderTrash& trash);

  // Whether the originals of the plan's folder (open at folderFd) can go to the trash:
  // the trash made and proved writable, and the folder on a file system where a file can be
  // proved idle. Refused with the cause otherwise. Run asks before writing anything.
  ZipResult CheckTrash(const ZipPlan& plan, int folderFd) const;

  // Set from any thread; honoured until the archive gets its final name, within one block,
  // and then between files of the trash stage (see ZipResult::TrashStopped).
  std::atomic<bool> CancelRequested{false};

  // Published for a progress bar on another thread: the stage, and work done of total.
  std::atomic<int> Stage{static_cast<int>(ZipStage::Listing)};
  std::atomic<std::int64_t> Done{0};
  std::atomic<std::int64_t> Total{0};

  // The worst-case archive size of a plan (every member stored) plus a margin; the free
  // space must reach this.
  static std::int64_t SpaceNeeded(const ZipPlan& plan);

 private:
  ZipResult OpenForPlan(const std::string& folderPath, ZipPlan& plan, DirReader& reader, bool subtree = false);
  ZipResult FinishPlan(ZipPlan& plan, int dirFd);
  bool MeasureSharing(ZipPlan& plan, int dirFd);  // extents the members share; false when cancelled
  struct Work;  // one run's folder, temporary archive and buffer
  // The stages of Run. Each returns a result whose outcome is Done to go on.
  ZipResult WriteArchive(Work& work);    // under a temporary name, flushed to disk
  struct WritePass;  // one writing of the archive from its first byte
  ZipResult WriteMember(Work& work, WritePass& writing, std::size_t& i);  // read once or again
  ZipResult VerifyArchive(Work& work);   // read back and compared with what was read
  ZipResult RefuseWithoutGain(Work& work);  // not given back 1% and one block: refused
  ZipResult PlaceArchive(Work& work);    // its final name, never over another file
  // The trash ready and writable for the folder open at folderFd, before anything is written.
  ZipResult PrepareTrash(const ZipPlan& plan, int folderFd, FolderTrash& trash) const;
  void TrashOriginals(Work& work, ZipResult& result);  // each only if proved unchanged and idle
  void RemoveEmptiedFolders(Work& work, ZipResult& result);  // a subtree's, left empty of all
  // Lists the folder open at reader's own files as Plan counts them, named prefix + name.
  void ListOwnFiles(DirReader& reader, const std::string& prefix, const ScanRules& rules, ZipPlan& plan);

  // The refusal when the folder's free space is known and falls short of SpaceNeeded.
  std::optional<ZipResult> RefuseWithoutSpace(const ZipPlan& plan, int dirFd) const;

  ZipOptions options_;
};

// "<folder name>-<date>.zip", the folder name cut (at a character boundary when it is
// UTF-8) so the whole fits a file name; number > 1 adds "-<number>" before ".zip".
std::string ArchiveNameFor(const std::string& folderPath, const std::string& date, int number = 1);

// Whether text is valid UTF-8 (no overlongs, no surrogates).
bool IsValidUtf8(const std::string& text);

}  // namespace orbelan
