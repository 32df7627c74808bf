#pragma once
// The Path column's order (lower-cased paths in unsigned byte order, a prefix first) taken
// from the tree the records of a scan form, without putting a single path together: a folder
// comes before everything below it, and the subtrees of sibling folders follow one another in
// the order of their names. A tree thousands of levels deep then sorts in the time and memory
// of its folders, where its paths alone would take the square of its depth.

#include <cstddef>
#include <vector>

#include "survey/result_row.h"

namespace orbelan {

class FolderList;

// order receives the indices of rows (made from folders in scan order) in ascending Path
// order. False, with order untouched, when the records are not one tree in depth-first
// order whose start holds its whole path and every other record one name below its parent,
// or when two sibling names differ only in case (their subtrees interleave): the caller then
// sorts by the paths themselves.
bool PathOrderFromTree(const FolderList& folders, const std::vector<ResultRow>& rows,
                       std::vector<std::size_t>& order);

}  // namespace orbelan
