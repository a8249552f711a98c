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

// What the window asks before it carries out the zone layout: the files and
// clusters moved, with those moved out of the way first, or why nothing.
TEST(OptimizeConfirmation, SaysWhatMovesAndWhatIsParkedOrWhyNothingMoves) {
  const auto schedule = [](int64_t files, int64_t clusters, int64_t parked, size_t left) {
    TOptimizeSchedule made;
    made.moves = Schedule(files, clusters, 0, left);
    made.clustersParked = parked;
    return made;
  };
  const struct {
    size_t layoutFiles;
    TOptimizeSchedule schedule;
    const char* refusal;
    bool ask;
    const char* starts;
  } cases[] = {
      {3, schedule(3, 6000, 1000, 0), "", true,
       "Optimize the layout of drive D:?\n\n3 files will be moved to where the plan puts them: "
       "6,000 clusters (23.4 MiB) will be moved, 1,000 of them out of the way first, to move "
       "again later.\n\nThe files are moved"},
      {1, schedule(1, 256, 0, 0), "", true,
       "Optimize the layout of drive D:?\n\n1 file will be moved to where the plan puts it: "
       "256 clusters (1.0 MiB) will be moved.\n\nThe files"},
      {0, schedule(0, 0, 0, 0), "", false,
       "Every file of drive D: lies where the plan puts it: nothing to move."},
      {2, schedule(0, 0, 0, 2), "", false,
       "No file of drive D: can be moved to where the plan puts it now.\n\n2 files will be left "
       "as they are:\n  \\f1: needs 9 clusters"},
      {2, schedule(2, 10, 0, 0), "nothing was moved: the volume contradicts itself", false,
       "Drive D: nothing was moved: the volume contradicts itself"},
  };
  for (const auto& c : cases) {
    const TDefragmentConfirmation said =
        OptimizeConfirmation(Layout(c.layoutFiles), c.schedule, c.refusal);
    EXPECT_EQ(said.ask, c.ask) << said.text;
    EXPECT_EQ(said.text.rfind(c.starts, 0), 0u) << said.text;
  }
}

// On a folder whose file system places the data, the question counts the
// files it will try and their clusters, names those the layout keeps, and
// says the moves stop between files; with nothing to try it only tells.
TEST(WholeFileConfirmation, CountsTheFilesTriedNamesThoseKeptAndTellsWhereNothingMoves) {
  const auto layout = [](size_t movable, size_t kept) {
    TMoveLayout made = Layout(movable + kept);
    for (size_t i = 0; i < movable + kept; ++i) {
      made.files[i].runs = {{0, 100, 3}, {3, 200, 2}};
      if (i >= movable) made.files[i].notMovable = "a swap file";
    }
    return made;
  };
  const struct {
    TMoveLayout layout;
    const char* refusal;
    bool ask;
    const char* says;
  } cases[] = {
      {layout(2, 1), "", true,
       "Defragment drive D:?\n\n2 files (10 clusters, 0.0 MiB) will be rewritten by the file "
       "system in fewer pieces where it can; it chooses where they go, and a file it cannot make "
       "less fragmented stays as it is.\n\n1 file will be left as it is:\n  \\f3: a swap "
       "file\n\nThe files stay in use while they are rewritten; Pause and Stop take effect "
       "between files."},
      {layout(0, 2), "", false,
       "No fragmented file on drive D: can be made whole now.\n\n2 files will be left as they "
       "are:\n  \\f1: a swap file\n  \\f2: a swap file"},
      {layout(0, 0), "", false, "No file on drive D: is fragmented: nothing to move."},
      {layout(1, 0), "nothing was moved: the volume contradicts itself in 1 place", false,
       "Drive D: nothing was moved: the volume contradicts itself in 1 place"},
  };
  for (const auto& c : cases) {
    const TDefragmentConfirmation said = WholeFileConfirmation(c.layout, c.refusal);
    EXPECT_EQ(said.ask, c.ask) << c.says;
    EXPECT_EQ(said.text, c.says);
  }
}

}  // namespace
