#include "ui/fragmented_files_table.h"

#include <algorithm>
#include <cctype>
#include <cstddef>

#include "model/pre_order.h"
#include "planning/fragment_pieces.h"

namespace {

// Negative, zero or positive as a sorts before, with or after b, ignoring
// ASCII case.
int ComparePaths(const std::string& a, const std::string& b) {
  const size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    const int left = std::tolower(static_cast<unsigned char>(a[i]));
    const int right = std::tolower(static_cast<unsigned char>(b[i]));
    if (left != right) return left - right;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

// The most fragmented first, then the listing's order.
bool MoreFragmented(const TFragmentedFileRow& a, const TFragmentedFileRow& b) {
  return a.fragments != b.fragments ? a.fragments > b.fragments : a.order < b.order;
}

}  // namespace

std::vector<TFragmentedFileRow> MostFragmentedFiles(const TItem* root, const TUserPaths& paths,
                                                    size_t limit) {
  std::vector<TFragmentedFileRow> rows;
  int64_t order = 0;
  for (const TItem* item = root; item != nullptr; item = NextInPreOrder(item, root), ++order) {
    if (item->IsFolder()) continue;
    const int64_t pieces = CountPieces(item->fragments);
    // The path is made for the rows kept only: a volume has millions of files.
    if (pieces > 1) {
      rows.push_back(TFragmentedFileRow{item, std::string(), item->size, pieces, order});
    }
  }
  const auto kept = rows.begin() + static_cast<std::ptrdiff_t>(std::min(limit, rows.size()));
  std::partial_sort(rows.begin(), kept, rows.end(), MoreFragmented);
  rows.erase(kept, rows.end());
  for (TFragmentedFileRow& row : rows) row.path = UserPath(paths, ListingPath(row.item), false);
  return rows;
}

void SortFragmentedFiles(std::vector<TFragmentedFileRow>* rows, TFragmentedFilesColumn column,
                         bool ascending) {
  // Ties in the order rows are made in, whatever sorts came before.
  std::sort(rows->begin(), rows->end(), MoreFragmented);
  const auto key = [column](const TFragmentedFileRow& a, const TFragmentedFileRow& b) {
    switch (column) {
      case TFragmentedFilesColumn::kPath:
        return ComparePaths(a.path, b.path);
      case TFragmentedFilesColumn::kSize:
        return a.bytes < b.bytes ? -1 : a.bytes > b.bytes ? 1 : 0;
      case TFragmentedFilesColumn::kFragments:
        return a.fragments < b.fragments ? -1 : a.fragments > b.fragments ? 1 : 0;
    }
    return 0;
  };
  std::stable_sort(rows->begin(), rows->end(),
                   [&](const TFragmentedFileRow& a, const TFragmentedFileRow& b) {
                     const int order = key(a, b);
                     return ascending ? order < 0 : order > 0;
                   });
}
