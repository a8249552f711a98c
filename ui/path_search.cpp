#include "ui/path_search.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <utility>

namespace {

bool SameLetter(char a, char b) {
  return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

}  // namespace

std::vector<const TItem*> ItemsWhosePathHolds(const TItem* root, const TUserPaths& paths,
                                              const std::string& text) {
  std::vector<const TItem*> found;
  if (root == nullptr || text.empty()) return found;
  // A walk in pre-order that keeps the path of the item it stands on, so
  // no path is made again from the root: each child's path is its parent's
  // with the separator and its name appended. pending holds the siblings
  // still to visit, each with the length of its parent's path.
  std::string path = paths.prefix;
  std::vector<std::pair<const TItem*, size_t>> pending;
  for (const TItem* child = root->firstChild; child != nullptr; child = child->nextSibling) {
    pending.emplace_back(child, path.size());
  }
  std::reverse(pending.begin(), pending.end());
  while (!pending.empty()) {
    const TItem* item = pending.back().first;
    path.resize(pending.back().second);
    pending.pop_back();
    path += paths.separator;
    path += item->name;
    if (std::search(path.begin(), path.end(), text.begin(), text.end(), SameLetter) != path.end()) {
      found.push_back(item);
    }
    const size_t before = pending.size();
    for (const TItem* child = item->firstChild; child != nullptr; child = child->nextSibling) {
      pending.emplace_back(child, path.size());
    }
    std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(before), pending.end());
  }
  return found;
}
