#include "survey/folder_recount.h"

#include "platform/day_number.h"
#include "platform/dir_reader.h"
#include "survey/figures.h"
#include "survey/folder_list.h"

namespace orbelan {

void RecountFolder(FolderRec& rec, const Settings& settings) {
  std::string path = std::move(rec.Path);
  rec = FolderRec{};
  rec.Path = std::move(path);

  DirReader reader;
  if (!reader.OpenPath(rec.Path)) return;
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
