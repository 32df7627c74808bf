// Writing the archive under its temporary name: each member read once (twice when deflate
// did not shrink it), checked unchanged, then the manifest, flushed to disk.
#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <ctime>

#include "archive/folder_zipper.h"
#include "archive/zip_manifest.h"
#include "archive/zipper_parts.h"
#include "fsfacts/folder_extents.h"

namespace orbelan {
using namespace zipper_parts;
namespace {

// The archive's bytes go straight to the temporary file, counted, so that the size of
// each member's data is known as soon as the writer has finished it.
struct CountingSink {
  int fd;
  std::int64_t written;
  int error;
  // A failed write is kept in error and the rest of the output dropped, but the writer is
  // told it succeeded: a writer that saw the failure would give up its deflate stream
  // without ending it, and each failed zip would leak it. Callers check error.
  static la_ssize_t Write(archive*, void* self, const void* data, std::size_t size) {
    auto* sink = static_cast<CountingSink*>(self);
    if (sink->error != 0) return static_cast<la_ssize_t>(size);
    const char* p = static_cast<const char*>(data);
    std::size_t left = size;
    while (left > 0) {
      const ssize_t n = ::write(sink->fd, p, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        sink->error = n < 0 ? errno : EIO;
        return static_cast<la_ssize_t>(size);
      }
      p += n;
      left -= static_cast<std::size_t>(n);
    }
    sink->written += static_cast<std::int64_t>(size);
    return static_cast<la_ssize_t>(size);
  }
};

// What the zip writer puts after a deflated member's data: the data descriptor (signature,
// CRC and two sizes), with 64-bit sizes for members it writes as Zip64.
std::int64_t DataDescriptorBytes(std::int64_t size, bool stored) {
  return size > (stored ? 0xffffffffLL : 0xf0000000LL) ? 24 : 16;
}

struct ArchiveWriter {
  archive* a = ::archive_write_new();
  ~ArchiveWriter() {
    if (a) ::archive_write_free(a);
  }
};

struct Entry {
  archive_entry* e = ::archive_entry_new();
  ~Entry() {
    if (e) ::archive_entry_free(e);
  }
};

// From here on the file is taken as it is now, open at fd; the trash checks against this.
void TakeAsItIsNow(ZipMember& m, int fd, const struct stat& st, const ZipPlan& plan) {
  TakeStat(m, st);
  if (plan.SharesExtents || plan.Compression.Compresses()) {
    const FileSharing sharing = SharingOfFile(fd, m.Size, plan.Compression);
    m.Shared = plan.InlineShared && sharing.Inline > 0 ? m.Allocated : sharing.Shared;
    m.FsSaved = sharing.FsSaved;  // nothing of it counts where all is shared
  }
  m.Stored = m.Size == 0;
}

// The member's header, stored or deflated as it says, its name marked UTF-8 when it is.
bool StartMember(archive* a, const ZipMember& m, ThreadLocales& locales) {
  // The zip writer's "compression" option can only be set before the archive opens;
  // these two calls are its way of choosing between entries.
  if ((m.Stored ? ::archive_write_zip_set_compression_store(a)
                : ::archive_write_zip_set_compression_deflate(a)) != ARCHIVE_OK)
    return false;
  Entry entry;
  ::archive_entry_copy_pathname(entry.e, m.Name.c_str());
  ::archive_entry_set_filetype(entry.e, AE_IFREG);
  ::archive_entry_set_perm(entry.e, static_cast<mode_t>(m.Mode));
  ::archive_entry_set_size(entry.e, m.Size);
  ::archive_entry_set_mtime(entry.e, static_cast<time_t>(m.MtimeSec), static_cast<long>(m.MtimeNsec));
  ::archive_entry_set_uid(entry.e, m.Uid);
  ::archive_entry_set_gid(entry.e, m.Gid);
  locales.UseUtf8(IsValidUtf8(m.Name));
  return ::archive_write_header(a, entry.e) == ARCHIVE_OK;
}

// The manifest, the last member: what undo will check the originals against. Its bytes
// are kept in manifest for the check after reading back.
bool WriteManifest(archive* a, const ZipPlan& plan, ThreadLocales& locales, std::string& text) {
  ZipManifest manifest;
  manifest.Folder = plan.Folder;
  for (const ZipSubfolder& f : plan.Subfolders) manifest.Subfolders.push_back({f.Name, f.Mode});
  for (const ZipMember& m : plan.Members) manifest.Members.push_back({m.Name, m.Size, m.Crc});
  text = ManifestText(manifest);
  Entry entry;
  ::archive_entry_copy_pathname(entry.e, kManifestName);
  ::archive_entry_set_filetype(entry.e, AE_IFREG);
  ::archive_entry_set_perm(entry.e, 0644);
  ::archive_entry_set_size(entry.e, static_cast<la_int64_t>(text.size()));
  ::archive_entry_set_mtime(entry.e, std::time(nullptr), 0);
  locales.UseUtf8(false);
  return ::archive_write_zip_set_compression_deflate(a) == ARCHIVE_OK &&
         ::archive_write_header(a, entry.e) == ARCHIVE_OK &&
         ::archive_write_data(a, text.data(), text.size()) == static_cast<la_ssize_t>(text.size()) &&
         ::archive_write_finish_entry(a) == ARCHIVE_OK;
}

// The written archive, open at out, made to keep only its own bytes and flushed to disk.
ZipResult SettleOnDisk(int out) {
  // Blocks the file system reserved past the end while the archive grew (XFS does so
  // generously) are given back, so that its disk use is what it keeps.
  const off_t end = ::lseek(out, 0, SEEK_CUR);
  if (end < 0 || ::ftruncate(out, end) != 0)
    return Fail("The archive could not be written (" + Errno(errno) + ")." + kNothingChanged);
  if (::fsync(out) != 0)
    return Fail("The archive could not be written to disk (" + Errno(errno) + ")." + kNothingChanged);
  return ZipResult{};
}

}  // namespace

// One writing of the archive from its first byte: the library's writer, the output it
// counts, and what the members written so far call for.
struct FolderZipper::WritePass {
  WritePass(int out, std::vector<char>& readOnce) : sink{out, 0, 0}, taken(readOnce) {}
  CountingSink sink;  // before the writer, which may still write to it as it goes
  ArchiveWriter writer;
  std::vector<char>& taken;  // whether each member was read once already
  bool rewrite = false;  // a deflated member did not shrink: written again, stored
  bool restart = false;  // a read failed with part of the file written: written again without it

  // The sink's own error (ENOSPC, EIO) is the real cause when a write fails.
  ZipResult WriteError() const {
    return Fail("The archive could not be written: " +
                (sink.error != 0 ? Errno(sink.error) : LibError(writer.a)) + "." + kNothingChanged);
  }
  // A file that cannot be opened or read stays where it is, out of the archive, named
  // with the cause; the others are zipped.
  void LeaveOut(Work& work, std::size_t i, std::string why) {
    ZipPlan& plan = work.plan;
    work.unreadable.push_back(plan.Members[i].Name);
    work.unreadableWhy.push_back(std::move(why));
    plan.Bytes -= plan.Members[i].Size;
    plan.Members.erase(plan.Members.begin() + static_cast<std::ptrdiff_t>(i));
    taken.erase(taken.begin() + static_cast<std::ptrdiff_t>(i));
  }
};

// Every member is first deflated (empty ones stored). The writer is unbuffered and its
// output counted, so each member's compressed size is known as it is written; if any did
// not shrink, the archive is written once more with those members stored. Most folders
// worth zipping compress throughout and are read and deflated only once.
ZipResult FolderZipper::WriteArchive(Work& work) {
  ZipPlan& plan = work.plan;
  const int out = work.temp.Fd();
  for (ZipMember& m : plan.Members) m.Stored = m.Size == 0;
  // Whether each member was read once already: read again, it must be what was read.
  std::vector<char> taken(plan.Members.size(), 0);
  for (int pass = 1;; ++pass) {
    if (pass > 1) {
      if (::ftruncate(out, 0) != 0 || ::lseek(out, 0, SEEK_SET) != 0)
        return Fail("The archive could not be written (" + Errno(errno) + ")." + kNothingChanged);
      Total += plan.Bytes;
    }
    WritePass writing(out, taken);
    archive* a = writing.writer.a;
    if (!a || ::archive_write_set_format_zip(a) != ARCHIVE_OK ||
        ::archive_write_set_bytes_per_block(a, 0) != ARCHIVE_OK ||
        ::archive_write_open(a, &writing.sink, nullptr, &CountingSink::Write, nullptr) != ARCHIVE_OK)
      return Fail("The archive could not be started: " + LibError(a) + "." + kNothingChanged);
    for (std::size_t i = 0; i < plan.Members.size() && !writing.restart;)
      if (ZipResult step = WriteMember(work, writing, i); step.Outcome != ZipOutcome::Done) return step;
    if (writing.restart) continue;
    if (!WriteManifest(a, plan, work.locales, work.manifest)) return writing.WriteError();
    if (::archive_write_close(a) != ARCHIVE_OK || writing.sink.error != 0) return writing.WriteError();
    if (!writing.rewrite) break;
  }
  return SettleOnDisk(out);
}

// Member i read and written, checked unchanged all the while, and i moved past it; left
// out (i then names the next), or the pass to restart, when it cannot be read.
ZipResult FolderZipper::WriteMember(Work& work, WritePass& writing, std::size_t& i) {
  ZipPlan& plan = work.plan;
  archive* a = writing.writer.a;
  const CountingSink& sink = writing.sink;
  unsigned char* buffer = work.buffer.get();
  ZipMember& m = plan.Members[i];
  if (CancelRequested) return Cancelled();
  if (options_.BeforeRead) options_.BeforeRead(m);
  const std::string shown = plan.Folder + m.Name;
  UniqueFd file(work.folders.OpenFile(m.Name));
  if (file.Get() < 0) {
    writing.LeaveOut(work, i, Errno(errno));
    return ZipResult{};
  }
  struct stat before {};
  if (::fstat(file.Get(), &before) != 0 || !S_ISREG(before.st_mode)) {
    writing.LeaveOut(work, i, "it is no longer an ordinary file");
    return ZipResult{};
  }
  const bool readBefore = writing.taken[i] != 0;
  if (!readBefore)
    TakeAsItIsNow(m, file.Get(), before, plan);
  else if (!StillAsTaken(m, before))
    return Fail("The file " + shown + " changed while it was being zipped." + kNothingChanged);

  if (!StartMember(a, m, work.locales) || sink.error != 0) return writing.WriteError();
  const std::int64_t dataStart = sink.written;

  std::uint32_t crc = static_cast<std::uint32_t>(::crc32(0L, Z_NULL, 0));
  std::int64_t copied = 0;
  for (;;) {
    if (CancelRequested) return Cancelled();
    const ssize_t n = ::pread(file.Get(), buffer, kBlock, copied);
    if (n < 0) {
      writing.LeaveOut(work, i, Errno(errno));
      writing.restart = true;
      return ZipResult{};
    }
    if (n == 0) break;
    if (copied + n > m.Size)
      return Fail("The file " + shown + " changed while it was being zipped." + kNothingChanged);
    crc = static_cast<std::uint32_t>(::crc32(crc, buffer, static_cast<uInt>(n)));
    if (::archive_write_data(a, buffer, static_cast<std::size_t>(n)) != n || sink.error != 0)
      return writing.WriteError();
    copied += n;
    Done += n;
  }
  if (::archive_write_finish_entry(a) != ARCHIVE_OK || sink.error != 0) return writing.WriteError();
  struct stat after {};
  // m holds what before showed (taken from it, or checked against it); the inode
  // cannot differ through the same descriptor.
  if (copied != m.Size || ::fstat(file.Get(), &after) != 0 || !StillAsTaken(m, after) ||
      (readBefore && crc != m.Crc))
    return Fail("The file " + shown + " changed while it was being zipped." + kNothingChanged);
  m.Crc = crc;
  m.Packed = sink.written - dataStart - DataDescriptorBytes(m.Size, m.Stored);
  if (!readBefore && !m.Stored && m.Packed >= m.Size) {
    m.Stored = true;  // deflate did not shrink it
    writing.rewrite = true;
  }
  writing.taken[i] = 1;
  ++i;
  return ZipResult{};
}

}  // namespace orbelan
