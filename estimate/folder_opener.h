#pragma once
// Opening a record's folder for its estimate: through the thread's FolderOpener when there
// is one (estimate/saving_estimate.h), else from the top. Either way no link is followed
// below the folder the scan started from.

namespace orbelan {

class DirReader;
class FolderOpener;
struct EstimateOptions;
struct FolderRec;

// Opens rec's folder into reader; false when it cannot be had (gone, swapped for a link,
// not readable).
bool OpenRecordFolder(DirReader& reader, const FolderRec& rec, const EstimateOptions& options,
                      FolderOpener* opener);

}  // namespace orbelan
