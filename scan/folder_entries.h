#pragma once
// A folder's entries kept in memory once read: the ones phase 1 of a scan hands to phase 2
// (scan/listing_handoff.h), and the ones a small folder's estimate passes over and may
// read after all.

#include <cstddef>
#include <string>

#include "platform/dir_reader.h"

namespace orbelan {

// Entries of a folder kept to be walked again later, in the order they were added: each
// stored as its d_type byte, its name and a NUL.
class FolderEntries {
 public:
  void Add(const DirEntry& entry) {
    bytes_.push_back(static_cast<char>(entry.Type));
    bytes_.append(entry.Name, entry.NameLength);
    bytes_.push_back('\0');
  }
  std::size_t Bytes() const { return bytes_.size(); }
  void Clear() { bytes_.clear(); }
  std::string& Storage() { return bytes_; }

  // Walks the entries in the order they were added.
  class Cursor {
   public:
    explicit Cursor(const std::string& bytes) : bytes_(bytes) {}
    bool Next(DirEntry& entry) {
      if (at_ >= bytes_.size()) return false;
      entry.Type = static_cast<unsigned char>(bytes_[at_]);
      entry.Name = bytes_.data() + at_ + 1;
      entry.NameLength = std::char_traits<char>::length(entry.Name);
      at_ += entry.NameLength + 2;
      return true;
    }

   private:
    const std::string& bytes_;
    std::size_t at_ = 0;
  };

  Cursor Walk() const { return Cursor(bytes_); }

 private:
  std::string bytes_;
};

}  // namespace orbelan
