// What the drive window asks before it moves anything.
#include "ui/defragment_confirmation.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A layout of count fragmented files "\f1" ... of 4 KiB clusters on drive D.
TMoveLayout Layout(size_t count) {
  TMoveLayout layout;
  layout.driveLetter = 'D';
  layout.clusterBytes = 4096;
  for (size_t i = 0; i < count; ++i) {
    const std::string name = "\\f" + std::to_string(i + 1);
    layout.files.push_back(TMovableFile{name, 0, TMoveStream::kData, {}, ""});
  }
  return layout;
}

// A schedule that moves files clusters and leaves the files from firstLeft on.
TMoveSchedule Schedule(int64_t files, int64_t clusters, size_t firstLeft, size_t count) {
  TMoveSchedule schedule;
  schedule.files = files;
  schedule.clusters = clusters;
  for (size_t i = firstLeft; i < count; ++i) schedule.left.push_back({i, "needs 9 clusters"});
  return schedule;
}

TEST(DefragmentConfirmation, SaysWhatMovesInFilesClustersAndMebibytesAndAsks) {
  const TDefragmentConfirmation said =
      DefragmentConfirmation(Layout(3), Schedule(3, 5000, 3, 3), "");
  EXPECT_TRUE(said.ask);
  EXPECT_EQ(said.text.rfind("Defragment drive D:?\n\n3 files will be made whole: 5,000 clusters "
                            "(19.5 MiB) will be moved.",
                            0),
            0u)
      << said.text;
  EXPECT_EQ(said.text.find("left"), std::string::npos);
}

TEST(DefragmentConfirmation, NamesTheFilesLeftWithTheirReasonUpToTheCapAndCountsTheRest) {
  struct TCase {
    size_t files;  // fragmented files; all but the first are left
    size_t shown;  // the cap
    const char* tail;
  };
  const TCase cases[] = {
      {2, 10, "1 file will be left as it is:\n  \\f2: needs 9 clusters\n"},
      {4, 3,
       "3 files will be left as they are:\n  \\f2: needs 9 clusters\n  \\f3: needs 9 "
       "clusters\n  \\f4: needs 9 clusters\n\n"},
      {6, 2,
       "5 files will be left as they are:\n  \\f2: needs 9 clusters\n  \\f3: needs 9 "
       "clusters\n  and 3 more\n\n"},
  };
  for (const TCase& c : cases) {
    const TDefragmentConfirmation said =
        DefragmentConfirmation(Layout(c.files), Schedule(1, 10, 1, c.files), "", c.shown);
    EXPECT_TRUE(said.ask);
    EXPECT_NE(said.text.find(c.tail), std::string::npos) << said.text;
    EXPECT_EQ(said.text.find("\\f" + std::to_string(c.shown + 2) + ":"), std::string::npos)
        << said.text;
  }
}

// Nothing is asked where nothing would move, or where the volume may not be
// written: there is nothing to say Yes to.
TEST(DefragmentConfirmation, TellsWithoutAskingWhereNothingWouldMove) {
  struct TCase {
    size_t files;
    size_t left;
    const char* refusal;
    const char* start;
  };
  const TCase cases[] = {
      {0, 0, "", "No file on drive D: is fragmented: nothing to move."},
      {2, 2, "", "No fragmented file on drive D: can be made whole now.\n\n2 files will be left"},
      {2, 0, "nothing was moved: the volume contradicts itself in 1 place",
       "Drive D: nothing was moved: the volume contradicts itself in 1 place"},
  };
  for (const TCase& c : cases) {
    const int64_t moving = static_cast<int64_t>(c.files - c.left);
    const TDefragmentConfirmation said = DefragmentConfirmation(
        Layout(c.files), Schedule(moving, moving * 4, c.files - c.left, c.files), c.refusal);
    EXPECT_FALSE(said.ask) << c.start;
    EXPECT_EQ(said.text.rfind(c.start, 0), 0u) << said.text;
  }
}

}  // namespace
