#include "scan/folder_recount.h"

#include "platform/day_number.h"
#include "platform/dir_reader.h"
#include "scan/counting_crew.h"
#include "scan/folder_list.h"

namespace orbelan {

void RecountFolder(FolderRec& rec, const ScanRules& rules, const FileDrawLimits& draws) {
  // The path stays as it is: others may be reading it.
  rec.ClearCounts();

  // The opener owns the descriptor; the counter only reads through it.
  DirReader opener;
  if (!opener.OpenPath(rec.Path())) return;
  DirReader counter;
  LocalDayClock clock;
  FileDrawer drawer(draws);
  CountFolderFiles(counter, opener.Fd(), rec, rules, clock, [] { return false; }, &drawer);
}

}  // namespace orbelan
