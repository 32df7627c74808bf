#pragma once
// The counted figures as both pages of the properties dialog show them, a folder's own on
// the first page and its subtree's on the Subtree page: files, archives and ignored files
// with their sizes, the share zipped, the newest file's age and the zip priority.

#include <string>

class QLabel;

namespace orbelan {

struct FolderCounts;

struct FigureLabels {
  QLabel* labNFiles = nullptr;
  QLabel* labSzFiles = nullptr;
  QLabel* labNZips = nullptr;
  QLabel* labSzZips = nullptr;
  QLabel* labNIgno = nullptr;
  QLabel* labSzIgno = nullptr;
  QLabel* labPercent = nullptr;
  QLabel* labRecent = nullptr;
  QLabel* labPriority = nullptr;

  // "12 files found --", "size = 3,456", ..., "Most recent file = " + age, "Zip Priority = 50".
  void Show(const FolderCounts& figures, const std::string& age) const;
};

}  // namespace orbelan
