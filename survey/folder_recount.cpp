#include "survey/folder_recount.h"

#include "platform/day_number.h"
#include "platform/dir_reader.h"
#include "survey/figures.h"
#include "survey/folder_list.h"

namespace orbelan {

void RecountFolder(FolderRec& rec, const Settings& settings) {
  // The path stays as it is: others may be reading it.
  rec.NFiles = rec.NIgno = rec.NZips = 0;
  rec.SzFiles = rec.SzIgno = rec.SzZips = 0;
  rec.Recent = 0;

  DirReader reader;
  if (!reader.OpenPath(rec.Path())) return;
  LocalDayClock clock;
  DirEntry entry;
  EntryStat stat;
  while (reader.Next(entry)) {
    if (!entry.Hidden() && !entry.TypeIsDirectory() && reader.Stat(entry.Name, stat) &&
        stat.Kind != EntryKind::Directory)
      TallyFile(rec, entry.NameView(), stat.Size, clock.DayNumber(stat.Modified), settings);
  }
}

}  // namespace orbelan
