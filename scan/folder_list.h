#pragma once
// One record per scanned folder and the list that owns them.

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>

#include "fsfacts/disk_use.h"

namespace orbelan {

struct FileDraws;
struct ScanRules;

// The counted figures of a folder: a record's own, or the sums over a subtree.
struct FolderCounts {
  std::int64_t NFiles = 0;  // counted files, archives included
  std::int64_t NIgno = 0;   // ignored files
  std::int64_t NZips = 0;   // counted files that are archives
  std::int64_t SzFiles = 0;
  std::int64_t SzIgno = 0;
  std::int64_t SzZips = 0;
  double Recent = 0;        // day number of the newest counted file; 0 when none
};

// A record does not hold its whole path: it names the record of the folder above it and its
// own name there, so that a tree thousands of levels deep costs memory and time by its
// folders, not by the square of its depth. Path() puts the whole path together on demand.
struct FolderRec : FolderCounts {
  FolderRec() = default;
  explicit FolderRec(std::string_view path) { SetPath(path); }

  // A few files drawn by their bytes while counting, when the scan was asked for them.
  std::shared_ptr<const FileDraws> Draws;
  // The disk space of the files behind Unzipped that are regular files.
  DiskUse Disk;

  // Zeroes the counts and sizes and forgets the draws; the path stays.
  void ClearCounts();

  // The full path, ending in "/", in the case it was built. Costs the path's length.
  std::string Path() const;
  void AppendPath(std::string& out) const;
  std::size_t PathLength() const { return pathLength_; }
  // The record of the folder that holds this one, or nullptr when the record holds its
  // whole path (the start of a scan, a record made on its own).
  const FolderRec* Parent() const { return parent_; }
  // Below Parent(): the folder's name, without "/". Without a parent: the whole path.
  const std::string& Name() const { return name_; }

  // The record holds path whole (a trailing "/" is the caller's to give).
  void SetPath(std::string_view path);
  // The record is the folder name inside parent's folder; parent must outlive it.
  void SetPlace(const FolderRec& parent, std::string_view name);

 private:
  const FolderRec* parent_ = nullptr;
  std::string name_;
  std::size_t pathLength_ = 0;
};

// The records of the last scan, in the order the scanner found the folders.
// Records live in a deque so references stay valid until ResetFolderList.
class FolderList {
 public:
  // Appends a zeroed record for path (taken as passed) unless IsIgnoredPath holds.
  // With a parent (a record of this list), path must be parent's path followed by one
  // name and "/"; the record then keeps only that name.
  bool AddFolder(std::string_view path, const ScanRules& rules, const FolderRec* parent = nullptr);
  void ResetFolderList();
  // Appends a record with rec's counts, draws and place: inside parent (a record of this
  // list) when given, else holding rec's whole path. For lists made again from others.
  FolderRec& AppendCopy(const FolderRec& rec, const FolderRec* parent);

  std::int64_t Count() const { return static_cast<std::int64_t>(records_.size()); }
  bool Empty() const { return records_.empty(); }
  FolderRec* Head() { return records_.empty() ? nullptr : &records_.front(); }
  FolderRec* Tail() { return records_.empty() ? nullptr : &records_.back(); }

  auto begin() { return records_.begin(); }
  auto end() { return records_.end(); }
  auto begin() const { return records_.begin(); }
  auto end() const { return records_.end(); }
  FolderRec& operator[](std::int64_t i) { return records_[static_cast<std::size_t>(i)]; }
  const FolderRec& operator[](std::int64_t i) const { return records_[static_cast<std::size_t>(i)]; }

 private:
  std::deque<FolderRec> records_;
};

}  // namespace orbelan
