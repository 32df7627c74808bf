// Opening the folder of a record for its estimate: from the top, or through the descriptors
// a thread's FolderOpener keeps of folders it passed.

#include "estimate/folder_opener.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "estimate/batch_reader.h"
#include "estimate/saving_estimate.h"
#include "platform/dir_reader.h"
#include "scan/folder_list.h"

namespace orbelan {
namespace {

// The folder's descriptor: below Root without following any link when the record lies
// there, else the record's path with its last component not followed.
bool OpenFolder(DirReader& reader, const FolderRec& rec, const EstimateOptions& options) {
  const std::string whole = rec.Path();
  std::string_view path = whole;
  std::string_view root = options.Root;
  if (!root.empty() && root.back() != '/') {
    if (path.size() > root.size() && path.substr(0, root.size()) == root && path[root.size()] == '/')
      root = path.substr(0, root.size() + 1);
    else
      root = {};
  }
  if (!root.empty() && path.substr(0, root.size()) == root) {
    DirReader base(4096);
    if (!base.OpenPath(root)) return false;
    std::string_view relative = path.substr(root.size());
    while (!relative.empty() && relative.back() == '/') relative.remove_suffix(1);
    return reader.OpenBelow(base.Fd(), relative);
  }
  std::string plain(path);
  while (plain.size() > 1 && plain.back() == '/') plain.pop_back();
  return reader.OpenChild(AT_FDCWD, plain.c_str());
}

// Folders a record may lie below its nearest kept ancestor before one more is kept, and
// how many descriptors one opener keeps at most.
constexpr int kKeepStride = 64;
constexpr std::size_t kKeepAtMost = 48;

}  // namespace

bool OpenRecordFolder(DirReader& reader, const FolderRec& rec, const EstimateOptions& options,
                      FolderOpener* opener) {
  return opener != nullptr ? opener->Open(reader, rec) : OpenFolder(reader, rec, options);
}

FolderOpener::FolderOpener(const EstimateOptions& options) : options_(options) {}

FolderOpener::~FolderOpener() {
  Forget();
  saving::ThreadBatchReader().CloseWaiting();  // the folders a run's reads closed along
}

void FolderOpener::Forget() {
  for (const Kept& k : kept_) close(k.fd);
  kept_.clear();
}

int FolderOpener::Keep(const FolderRec& rec, int fd) {
  const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return -1;  // out of descriptors: this one is opened from the top
  if (kept_.size() >= kKeepAtMost) {
    auto oldest = std::min_element(kept_.begin(), kept_.end(),
                                   [](const Kept& a, const Kept& b) { return a.used < b.used; });
    close(oldest->fd);
    *oldest = kept_.back();
    kept_.pop_back();
  }
  kept_.push_back({&rec, copy, ++clock_});
  return copy;
}

const FolderOpener::Kept* FolderOpener::Find(const FolderRec* rec) {
  for (Kept& k : kept_) {
    if (k.rec == rec) {
      k.used = ++clock_;
      return &k;
    }
  }
  return nullptr;
}

// A kept descriptor for rec, opened (and kept) when there is none yet.
int FolderOpener::Descriptor(const FolderRec& rec) {
  if (const Kept* kept = Find(&rec)) return kept->fd;
  DirReader reader;
  if (!Open(reader, rec)) return -1;
  return Keep(rec, reader.Fd());
}

// From the nearest kept folder above rec: the start of the scan is opened from the top and
// kept; a record more than kKeepStride levels below any kept folder has the folder that far
// up opened (the same way, recursively) and kept.
bool FolderOpener::Open(DirReader& reader, const FolderRec& rec) {
  std::vector<const FolderRec*> below;  // rec and the folders up to the base, deepest first
  const FolderRec* r = &rec;
  int base = -1;
  for (;;) {
    if (const Kept* kept = Find(r)) {
      base = kept->fd;
      break;
    }
    if (r->Parent() == nullptr) {  // the start: from the top, as without an opener
      DirReader top;
      if (!OpenFolder(top, *r, options_)) return false;
      base = Keep(*r, top.Fd());
      if (base < 0) return below.empty() ? reader.OpenBelow(top.Fd(), "") : OpenFolder(reader, rec, options_);
      break;
    }
    if (below.size() == kKeepStride) {
      base = Descriptor(*r);
      if (base < 0) return OpenFolder(reader, rec, options_);
      break;
    }
    below.push_back(r);
    r = r->Parent();
  }
  std::string relative;
  for (auto it = below.rbegin(); it != below.rend(); ++it) {
    if (!relative.empty()) relative.push_back('/');
    relative.append((*it)->Name());
  }
  walked_ += below.size();
  if (reader.OpenBelow(base, relative)) return true;
  if (errno != EMFILE && errno != ENFILE) return false;
  Forget();  // the descriptors kept are wanted elsewhere: from the top, as without an opener
  return OpenFolder(reader, rec, options_);
}

}  // namespace orbelan
