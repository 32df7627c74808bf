#include "scan/recorded_subfolders.h"

#include "platform/start_path.h"
#include "scan/folder_list.h"
#include "scan/scan_rules.h"
#include "scan/scanner.h"

namespace orbelan {

std::vector<std::string> RecordedSubfolders(const std::string& folderPath, const ScanRules& rules) {
  FolderList folders;
  SilentScanObserver quiet;
  Scanner scanner(folders, rules, quiet);
  scanner.FindFolders(AbsoluteFolderPath(folderPath));
  std::vector<std::string> paths;
  for (std::int64_t i = 1; i < folders.Count(); ++i) paths.push_back(folders[i].Path());
  return paths;
}

}  // namespace orbelan
