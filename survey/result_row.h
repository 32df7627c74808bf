#pragma once
// One row of the results list: the folder it shows, and nothing else, so that the list's
// orders can be computed apart from the texts they sort.

namespace orbelan {

struct FolderRec;

struct ResultRow {
  const FolderRec* Rec = nullptr;  // not owned; valid until the next scan resets the list
  // Every cell text, the Path column's included, is made on demand by CellText: a row
  // holds no text of its own, so the rows of a million folders cost 8 bytes each.
};

}  // namespace orbelan
