// The archive read back and compared with what was read, refused without gain, then given
// its final name without replacing anything.
#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>

#include "archive/folder_zipper.h"
#include "archive/member_links.h"
#include "archive/zip_directory.h"
#include "archive/zip_manifest.h"
#include "archive/zipper_parts.h"
#include "survey/figure_text.h"

namespace orbelan {
using namespace zipper_parts;
namespace {

// Gives the temporary archive its final name without replacing anything that has it.
bool PlaceWithoutReplacing(int dirFd, const std::string& from, const std::string& to) {
  if (::renameat2(dirFd, from.c_str(), dirFd, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (::linkat(dirFd, from.c_str(), dirFd, to.c_str(), 0) == 0) {
    ::unlinkat(dirFd, from.c_str(), 0);
    return true;
  }
  if (errno == EEXIST) return false;
  // A file system without hard links: claim the name with an empty file of our own, then
  // move the archive over that file only.
  const int claim = ::openat(dirFd, to.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
  if (claim < 0) return false;
  ::close(claim);
  if (::renameat(dirFd, from.c_str(), dirFd, to.c_str()) == 0) return true;
  const int error = errno;
  ::unlinkat(dirFd, to.c_str(), 0);
  errno = error;
  return false;
}

struct ArchiveReader {
  archive* a = ::archive_read_new();
  ~ArchiveReader() {
    if (a) ::archive_read_free(a);
  }
};

}  // namespace

// The archive is read back from the disk: its directory must name every member by its
// file's exact bytes, in the order written, and the library must give back each member's
// size and CRC as they were read from the file.
ZipResult FolderZipper::VerifyArchive(Work& work) {
  Stage = static_cast<int>(ZipStage::Verifying);
  if (options_.AtStage) options_.AtStage(ZipStage::Verifying);
  const ZipPlan& plan = work.plan;
  const std::string mismatch = "The archive read back does not match the files";
  UniqueFd back(::openat(work.dirFd, work.temp.Name().c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (back.Get() < 0)
    return Fail("The archive could not be read back (" + Errno(errno) + ")." + kNothingChanged);

  std::string why;
  const std::optional<std::vector<std::string>> names = CentralDirectoryNames(back.Get(), &why);
  if (!names) return Fail(mismatch + " (" + why + ")." + kNothingChanged);
  if (names->size() != plan.Members.size() + 1 || names->back() != kManifestName)
    return Fail(mismatch + " (it holds " + std::to_string(names->size()) + " members, not " +
                std::to_string(plan.Members.size() + 1) + ")." + kNothingChanged);
  for (std::size_t i = 0; i < plan.Members.size(); ++i)
    if ((*names)[i] != plan.Members[i].Name)
      return Fail(mismatch + " (the name of " + plan.Members[i].Name + ")." + kNothingChanged);

  // The library may spell names differently (slashes for backslashes, composed accents);
  // the names are proved above, so members are matched by their order here.
  work.locales.UseUtf8(true);
  ArchiveReader reader;
  archive* r = reader.a;
  if (!r || ::archive_read_support_format_zip(r) != ARCHIVE_OK ||
      ::archive_read_open_fd(r, back.Get(), 64 * 1024) != ARCHIVE_OK)
    return Fail("The archive could not be read back: " + LibError(r) + "." + kNothingChanged);
  archive_entry* e = nullptr;
  std::size_t index = 0;
  int rc;
  while ((rc = ::archive_read_next_header(r, &e)) == ARCHIVE_OK) {
    if (index == plan.Members.size()) {  // the manifest
      std::string text;
      la_ssize_t n;
      while ((n = ::archive_read_data(r, work.buffer.get(), kBlock)) > 0 && text.size() <= work.manifest.size())
        text.append(reinterpret_cast<const char*>(work.buffer.get()), static_cast<std::size_t>(n));
      if (n < 0 || text != work.manifest)
        return Fail(mismatch + " (its manifest)." + kNothingChanged);
      ++index;
      continue;
    }
    if (index > plan.Members.size())
      return Fail(mismatch + " (a member that was not written)." + kNothingChanged);
    const ZipMember& m = plan.Members[index++];
    if (!::archive_entry_size_is_set(e) || ::archive_entry_size(e) != m.Size)
      return Fail(mismatch + " (the size of " + m.Name + ")." + kNothingChanged);
    std::uint32_t crc = static_cast<std::uint32_t>(::crc32(0L, Z_NULL, 0));
    std::int64_t size = 0;
    for (;;) {
      if (CancelRequested) return Cancelled();
      const la_ssize_t n = ::archive_read_data(r, work.buffer.get(), kBlock);
      if (n < 0) return Fail(mismatch + " (" + m.Name + ": " + LibError(r) + ")." + kNothingChanged);
      if (n == 0) break;
      crc = static_cast<std::uint32_t>(::crc32(crc, work.buffer.get(), static_cast<uInt>(n)));
      size += n;
      Done += n;
    }
    if (size != m.Size || crc != m.Crc)
      return Fail(mismatch + " (the contents of " + m.Name + ")." + kNothingChanged);
  }
  if (rc != ARCHIVE_EOF)
    return Fail("The archive could not be read back: " + LibError(r) + "." + kNothingChanged);
  if (index != plan.Members.size() + 1) return Fail(mismatch + " (a member is missing)." + kNothingChanged);
  return ZipResult{};
}

// Zipping that gives back less than 1% of the files' disk space, or less than one block,
// is not worth the risk of the originals going to the trash: refused, nothing kept.
ZipResult FolderZipper::RefuseWithoutGain(Work& work) {
  const ZipPlan& plan = work.plan;
  struct stat st {};  // nothing reserved past its end by now (WriteArchive)
  if (::fstat(work.temp.Fd(), &st) != 0)
    return Fail("The archive could not be read back (" + Errno(errno) + ")." + kNothingChanged);
  const std::int64_t archive = static_cast<std::int64_t>(st.st_blocks) * 512;
  const LinkTally links = TallyLinks(plan.Members);  // as the files were read
  const std::int64_t held = links.Allocated;
  const std::int64_t gain = held - archive;
  if (gain >= plan.BlockBytes && gain * 100 >= held) return ZipResult{};
  std::string text = "Zipping " + plan.Folder + " would not give back enough disk space: its files take " +
                     GroupedNumber(held) + " bytes";
  if (links.FsSaved > 0) text += " as the file system stores them compressed";
  if (links.Elsewhere > 0)
    text += " (not counting " + std::to_string(links.Elsewhere) +
            " with hard links outside these files, which free nothing)";
  if (links.Shared > 0)
    text += " (not counting " + GroupedNumber(links.Shared) +
            " bytes that other files or snapshots share, which stay in use)";
  text += ", the archive would take " + GroupedNumber(archive) +
          " bytes; at least 1% and one block (" + GroupedNumber(plan.BlockBytes) +
          " bytes) must come back." + kNothingChanged;
  return Refuse(text);
}

// The first free name, never replacing a file.
ZipResult FolderZipper::PlaceArchive(Work& work) {
  const ZipPlan& plan = work.plan;
  for (int number = 1;; ++number) {
    const std::string name = ArchiveNameFor(plan.Folder, options_.Date, number);
    if (PlaceWithoutReplacing(work.dirFd, work.temp.Name(), name)) {
      work.temp.Placed();
      work.archiveName = name;
      ::fsync(work.dirFd);
      return ZipResult{};
    }
    if (errno != EEXIST || number >= 1000)
      return Fail("The archive could not be given its name in " + plan.Folder + " (" + Errno(errno) +
                  ")." + kNothingChanged);
  }
}

}  // namespace orbelan
