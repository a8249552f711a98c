#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "model/item.h"
#include "model/record_pool.h"

namespace {

char* Name(const char* text) {
  char* copy = static_cast<char*>(std::malloc(std::strlen(text) + 1));
  std::strcpy(copy, text);
  return copy;
}

std::vector<TItem*> Children(const TItem* folder) {
  std::vector<TItem*> list;
  for (TItem* child = folder->firstChild; child != nullptr; child = child->nextSibling) {
    list.push_back(child);
  }
  return list;
}

TEST(ItemTree, NewItemAppendsAsLastChild) {
  TItem* root = NewItem(nullptr, Name("D:\\"), 0, kItemFolder);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->parent, nullptr);
  EXPECT_EQ(root->firstChild, nullptr);
  TItem* a = NewItem(root, Name("a"), 5, 0);
  TItem* b = NewItem(root, Name("b"), 7, kItemFolder);
  EXPECT_EQ(Children(root), (std::vector<TItem*>{a, b}));
  EXPECT_EQ(root->lastChild, b);
  EXPECT_EQ(b->parent, root);
  EXPECT_EQ(a->size, 5);
  EXPECT_TRUE(b->IsFolder());
  ReleaseItem(root);
}

TEST(ItemTree, NewFragmentIsUnlinked) {
  TFragment* fragment = NewFragment(nullptr, 0, 42, 3);
  ASSERT_NE(fragment, nullptr);
  EXPECT_EQ(fragment->owner, nullptr);
  EXPECT_EQ(fragment->lcn, 42);
  EXPECT_EQ(fragment->length, 3);
  EXPECT_EQ(fragment->next, nullptr);
  EXPECT_EQ(fragment->mapNext, nullptr);
  ReleaseFragments(fragment);
  ReleaseFragments(nullptr);
}

struct TUnlinkCase {
  const char* name;
  int children;  // how many children the folder gets
  int unlink;    // index of the child to unlink; -1 for a stranger
  std::vector<int> remaining;
  int expectedFirst;  // index, -1 for none
  int expectedLast;
  int returned;  // index of the returned next sibling, -1 for none
};

class UnlinkChild : public testing::TestWithParam<TUnlinkCase> {};

// Each case three ways: searched for, told the sibling before the child, and
// told a sibling that is not the one before it (the search then decides).
TEST_P(UnlinkChild, KeepsListInvariants) {
  const TUnlinkCase& c = GetParam();
  enum TWay { kSearched, kToldThePrevious, kToldAWrongPrevious };
  for (const TWay way : {kSearched, kToldThePrevious, kToldAWrongPrevious}) {
    SCOPED_TRACE(way);
    TItem* folder = NewItem(nullptr, Name("f"), 0, kItemFolder);
    std::vector<TItem*> kids;
    for (int i = 0; i < c.children; ++i) kids.push_back(NewItem(folder, Name("k"), 0, 0));
    TItem* stranger = NewItem(nullptr, Name("s"), 0, 0);
    TItem* target = c.unlink < 0 ? stranger : kids[static_cast<size_t>(c.unlink)];
    auto at = [&kids](int index) { return index < 0 ? nullptr : kids[static_cast<size_t>(index)]; };

    TItem* returned = nullptr;
    if (way == kSearched) {
      returned = folder->UnlinkChild(target);
    } else if (way == kToldThePrevious) {
      returned = folder->UnlinkChildAfter(c.unlink > 0 ? at(c.unlink - 1) : nullptr, target);
    } else {
      returned = folder->UnlinkChildAfter(c.unlink == 0 ? folder->lastChild : target, target);
    }
    EXPECT_EQ(returned, at(c.returned));
    std::vector<TItem*> expected;
    for (int index : c.remaining) expected.push_back(kids[static_cast<size_t>(index)]);
    EXPECT_EQ(Children(folder), expected);
    EXPECT_EQ(folder->firstChild, at(c.expectedFirst));
    EXPECT_EQ(folder->lastChild, at(c.expectedLast));
    if (c.unlink >= 0) {
      EXPECT_EQ(target->parent, folder);  // left as it was
    }

    if (c.unlink >= 0) ReleaseItem(target);
    ReleaseItem(stranger);
    ReleaseItem(folder);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, UnlinkChild,
                         testing::Values(TUnlinkCase{"OnlyChild", 1, 0, {}, -1, -1, -1},
                                         TUnlinkCase{"FirstOfThree", 3, 0, {1, 2}, 1, 2, 1},
                                         TUnlinkCase{"MiddleOfThree", 3, 1, {0, 2}, 0, 2, 2},
                                         TUnlinkCase{"LastOfThree", 3, 2, {0, 1}, 0, 1, -1},
                                         TUnlinkCase{"NotAChild", 2, -1, {0, 1}, 0, 1, -1},
                                         TUnlinkCase{"EmptyFolder", 0, -1, {}, -1, -1, -1}),
                         [](const testing::TestParamInfo<TUnlinkCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(ItemTree, ReleaseItemReturnsWholeSubtreeAndRuns) {
  TItem* root = NewItem(nullptr, Name("D:\\"), 0, kItemFolder);
  TItem* sub = NewItem(root, Name("Sub"), 0, kItemFolder);
  TItem* deep = NewItem(sub, Name("Deep"), 0, kItemFolder);
  TItem* file = NewItem(deep, Name("f.bin"), 10, 0);
  TItem* sibling = NewItem(sub, Name("g.bin"), 10, 0);
  std::vector<TFragment*> runs;
  for (TItem* owner : {sub, file, file, sibling}) {
    TFragment* run = NewFragment(owner, 0, 100, 1);
    run->next = owner->fragments;
    owner->fragments = run;
    runs.push_back(run);
  }
  root->UnlinkChild(sub);
  ReleaseItem(sub);
  for (TItem* item : {sub, deep, file, sibling}) EXPECT_FALSE(itemPool.InUse(item));
  for (TFragment* run : runs) EXPECT_FALSE(fragmentPool.InUse(run));
  EXPECT_TRUE(itemPool.InUse(root));
  EXPECT_EQ(root->firstChild, nullptr);
  ReleaseItem(root);
}

TEST(ItemTree, ReusedItemComesBackCleared) {
  TItem* root = NewItem(nullptr, Name("r"), 0, kItemFolder);
  TItem* item = NewItem(root, Name("x"), 99, 0);
  item->clusters = 12;
  item->fragmentCount = 2;
  item->fragments = NewFragment(item, 0, 1, 1);
  item->planned = nullptr;
  root->UnlinkChild(item);
  ReleaseItem(item);
  TItem* again = NewItem(nullptr, Name("y"), 0, 0);
  ASSERT_EQ(again, item);  // first fit hands the freed slot back
  EXPECT_EQ(again->clusters, 0);
  EXPECT_EQ(again->fragmentCount, 0);
  EXPECT_EQ(again->fragments, nullptr);
  EXPECT_EQ(again->planned, nullptr);
  EXPECT_EQ(again->firstChild, nullptr);
  EXPECT_EQ(again->nextSibling, nullptr);
  ReleaseItem(again);
  ReleaseItem(root);
}

TEST(ItemTree, ReleasingAnItemTwiceFreesItsRecordsOnce) {
  TItem* folder = NewItem(nullptr, Name("f"), 0, kItemFolder);
  TItem* child = NewItem(folder, Name("c"), 0, 0);
  child->fragments = NewFragment(child, 0, 1, 1);
  ReleaseItem(folder);
  // The child's slot goes to an item of another tree; a second release of
  // the folder must not follow its stale links into it.
  TItem* first = NewItem(nullptr, Name("x"), 0, 0);
  TItem* reused = NewItem(nullptr, Name("y"), 0, 0);
  ASSERT_EQ(reused, child);
  itemPool.Release(first);
  std::free(first->name);
  ReleaseItem(folder);
  EXPECT_TRUE(itemPool.InUse(reused));
  ReleaseItem(reused);
}

// Two workers build and tear down trees at once in the shared pools.
TEST(ItemTree, ConcurrentTreesStayIntact) {
  auto work = [](int seed, int* errors) {
    for (int round = 0; round < 50; ++round) {
      TItem* root = NewItem(nullptr, Name("r"), 0, kItemFolder);
      for (int i = 0; i < 200; ++i) {
        TItem* child = NewItem(root, Name("c"), seed * 1000 + i, 0);
        child->fragments = NewFragment(child, 0, seed, i);
      }
      int i = 0;
      for (TItem* child = root->firstChild; child != nullptr; child = child->nextSibling, ++i) {
        if (child->size != seed * 1000 + i || child->fragments->owner != child) ++*errors;
      }
      ReleaseItem(root);
    }
  };
  int errorsA = 0;
  int errorsB = 0;
  std::thread a(work, 1, &errorsA);
  std::thread b(work, 2, &errorsB);
  a.join();
  b.join();
  EXPECT_EQ(errorsA, 0);
  EXPECT_EQ(errorsB, 0);
}

}  // namespace
