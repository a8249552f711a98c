// The defragmentation schedule and its proof: every fragmented file goes
// whole into the smallest free extent that holds it, largest first, into
// space earlier moves released where that fits best; a file no extent
// holds is named with the numbers; and the replay refuses every schedule
// that would land on clusters in use, move a hole or leave a file in pieces.
#include "moving/defragment_schedule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "moving/move_layout.h"
#include "moving/schedule_replay.h"
#include "tests/support/tree_builder.h"

namespace {

using TRuns = std::vector<std::pair<int64_t, int64_t>>;  // lcn, length; vcn from 0

TMovableFile File(const std::string& name, const TRuns& runs) {
  TMovableFile file;
  file.listingPath = "\\" + name;
  file.fileId = 0;
  file.stream = TMoveStream::kData;
  int64_t vcn = 0;
  for (const auto& run : runs) {
    file.runs.push_back(TFileRun{vcn, run.first, run.second});
    vcn += run.second;
  }
  return file;
}

TMoveLayout Layout(int64_t totalClusters, const TRuns& free, std::vector<TMovableFile> files) {
  TMoveLayout layout;
  layout.driveLetter = 'D';
  layout.totalClusters = totalClusters;
  layout.clusterBytes = 4096;
  for (const auto& extent : free) layout.freeExtents.push_back({extent.first, extent.second});
  layout.files = std::move(files);
  return layout;
}

// Where each file's clusters begin once the schedule is carried out.
int64_t TargetOf(const TMoveSchedule& schedule, size_t file) {
  for (const TMoveStep& step : schedule.steps) {
    if (step.file == file) return step.targetLcn;
  }
  return -1;
}

TEST(DefragmentSchedule, EachFileGoesWholeIntoTheSmallestFreeExtentThatHoldsIt) {
  // Free: 10 at 100, 30 at 200, 60 at 300. A file of 25 takes the extent of
  // 30, not the first or the largest.
  const TMoveLayout layout =
      Layout(1000, {{100, 10}, {200, 30}, {300, 60}}, {File("a", {{500, 10}, {600, 15}})});
  const TMoveSchedule schedule = ScheduleDefragment(layout, 1000);
  ASSERT_EQ(schedule.steps.size(), 1u);
  EXPECT_EQ(schedule.steps[0].vcn, 0);
  EXPECT_EQ(schedule.steps[0].clusters, 25);
  EXPECT_EQ(schedule.steps[0].targetLcn, 200);
  EXPECT_EQ(schedule.files, 1);
  EXPECT_EQ(schedule.clusters, 25);
  EXPECT_EQ(ReplaySchedule(layout, schedule), "");
}

TEST(DefragmentSchedule, LargestFilesGoFirstSoSmallOnesDoNotCutUpTheLongExtents) {
  // Free: 40 at 100, 12 at 300. In layout order the small file would take
  // the 40 if it came first and leave the large one without room.
  const TMoveLayout layout =
      Layout(1000, {{100, 40}, {300, 12}},
             {File("small", {{500, 5}, {510, 5}}), File("large", {{600, 20}, {700, 20}})});
  const TMoveSchedule schedule = ScheduleDefragment(layout, 1000);
  EXPECT_EQ(TargetOf(schedule, 1), 100);
  EXPECT_EQ(TargetOf(schedule, 0), 300);
  EXPECT_TRUE(schedule.left.empty());
  EXPECT_EQ(ReplaySchedule(layout, schedule), "");
}

TEST(DefragmentSchedule, SpaceAnEarlierMoveReleasedIsUsedAgain) {
  // The large file (60..90 and 400..410) goes to the only extent of 40; it
  // leaves 60..90 behind, which joins the free 90..100: the second file, 25
  // clusters, has room only there.
  const TMoveLayout layout = Layout(
      1000, {{90, 10}, {300, 40}},
      {File("large", {{60, 20}, {80, 10}, {400, 10}}), File("next", {{500, 12}, {520, 13}})});
  const TMoveSchedule schedule = ScheduleDefragment(layout, 1000);
  EXPECT_EQ(TargetOf(schedule, 0), 300);
  EXPECT_EQ(TargetOf(schedule, 1), 60);
  EXPECT_TRUE(schedule.left.empty());
  EXPECT_EQ(ReplaySchedule(layout, schedule), "");
}

// The same, with runs so far apart that the schedule finds where they touch
// the free space by comparing positions, not by one number per run.
TEST(DefragmentSchedule, SpaceReleasedFarAlongTheVolumeIsUsedAgain) {
  constexpr int64_t kFar = int64_t(1) << 61;
  const TMoveLayout layout = Layout(kFar + 1000, {{90, 10}, {kFar + 300, 40}},
                                    {File("large", {{60, 20}, {80, 10}, {kFar + 400, 10}}),
                                     File("next", {{kFar + 500, 12}, {kFar + 520, 13}})});
  const TMoveSchedule schedule = ScheduleDefragment(layout, 1000);
  EXPECT_EQ(TargetOf(schedule, 0), kFar + 300);
  EXPECT_EQ(TargetOf(schedule, 1), 60);
  EXPECT_TRUE(schedule.left.empty());
  EXPECT_EQ(ReplaySchedule(layout, schedule), "");
}

// Files of one size go in layout order: the first takes the extent of its
// length freed last (200), the next the other (100). So they do beside a
// file larger than any volume, whose size leaves no room in one number for
// the files' order, which is then found by comparing; that file is left.
TEST(DefragmentSchedule, FilesOfOneSizeGoInLayoutOrderBesideFilesOfAnySize) {
  constexpr int64_t kHalf = int64_t(1) << 61;
  for (const bool withHuge : {false, true}) {
    std::vector<TMovableFile> files;
    if (withHuge) files.push_back(File("huge", {{1000, kHalf}, {2 * kHalf, kHalf}}));
    files.push_back(File("a", {{500, 5}, {510, 5}}));
    files.push_back(File("b", {{600, 5}, {610, 5}}));
    const size_t first = withHuge ? 1 : 0;
    const TMoveLayout layout = Layout(3 * kHalf, {{100, 10}, {200, 10}}, files);
    const TMoveSchedule schedule = ScheduleDefragment(layout, 1000);
    EXPECT_EQ(TargetOf(schedule, first), 200) << withHuge;
    EXPECT_EQ(TargetOf(schedule, first + 1), 100) << withHuge;
    EXPECT_EQ(schedule.files, 2) << withHuge;
    ASSERT_EQ(schedule.left.size(), withHuge ? 1u : 0u);
    if (withHuge) {
      EXPECT_EQ(schedule.left[0].reason,
                "needs 4,611,686,018,427,387,904 clusters; the largest free extent holds 10");
    }
    EXPECT_EQ(ReplaySchedule(layout, schedule), "") << withHuge;
  }
}

TEST(DefragmentSchedule, AFileNoFreeExtentHoldsIsLeftWithTheNumbers) {
  const TMoveLayout layout =
      Layout(100000, {{10, 3320}, {20000, 100}}, {File("big.bin", {{5000, 2500}, {9000, 2500}})});
  const TMoveSchedule schedule = ScheduleDefragment(layout, 100000);
  EXPECT_TRUE(schedule.steps.empty());
  ASSERT_EQ(schedule.left.size(), 1u);
  EXPECT_EQ(schedule.left[0].reason, "needs 5,000 clusters; the largest free extent holds 3,320");
}

TEST(DefragmentSchedule, WholeAndUnmovableFilesAreNotMovedAndUnmovableOnesSayWhy) {
  std::vector<TMovableFile> files = {File("whole", {{100, 10}}),
                                     File("damaged", {{200, 5}, {300, 5}})};
  files[1].notMovable = "the volume contradicts itself about it";
  const TMoveLayout layout = Layout(1000, {{500, 100}}, files);
  const TMoveSchedule schedule = ScheduleDefragment(layout, 1000);
  EXPECT_TRUE(schedule.steps.empty());
  ASSERT_EQ(schedule.left.size(), 1u);
  EXPECT_EQ(schedule.left[0].file, 1u);
  EXPECT_EQ(schedule.left[0].reason, "the volume contradicts itself about it");
}

TEST(DefragmentSchedule, LargeFilesMoveInStepsLaidEndToEnd) {
  const TMoveLayout layout = Layout(10000, {{1000, 5000}}, {File("a", {{10, 120}, {300, 130}})});
  const TMoveSchedule schedule = ScheduleDefragment(layout, 100);
  ASSERT_EQ(schedule.steps.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(schedule.steps[i].vcn, int64_t(100 * i));
    EXPECT_EQ(schedule.steps[i].targetLcn, int64_t(1000 + 100 * i));
  }
  EXPECT_EQ(schedule.steps[2].clusters, 50);
  EXPECT_EQ(ReplaySchedule(layout, schedule), "");
  EXPECT_EQ(StepClustersFor(4096), 16384);
  EXPECT_EQ(StepClustersFor(0), 1);
}

// A volume of `total` clusters cut into pieces of 1 to maxPiece clusters:
// each free (a few of them longer), or a piece of one of `count` files, whose pieces are shuffled
// in VCN order so most are fragmented. Pieces touch: files each other, free
// ones each other (as extents to be joined) and files.
TMoveLayout RandomLayout(std::mt19937_64& random, int64_t total, size_t count, int64_t maxPiece) {
  std::vector<TMovableFile> files(count);
  TRuns free;
  for (int64_t lcn = 0; lcn < total;) {
    const int64_t length = std::min<int64_t>(total - lcn, 1 + random() % maxPiece);
    const size_t owner = random() % (count + count / 3);
    if (owner < files.size()) {
      TMovableFile& file = files[owner];
      const int64_t vcn = file.runs.empty() ? 0 : file.runs.back().vcn + file.runs.back().length;
      file.runs.push_back(TFileRun{vcn, lcn, length});
    } else {
      // Now and then a long one, which files may fit.
      const int64_t longer = random() % 6 == 0 ? length * (2 + random() % 20) : length;
      free.push_back({lcn, std::min(total - lcn, longer)});
      lcn += free.back().second - length;
    }
    lcn += length;
  }
  std::vector<TMovableFile> kept;
  for (size_t i = 0; i < files.size(); ++i) {
    std::vector<TFileRun>& runs = files[i].runs;
    if (runs.empty()) continue;
    files[i].listingPath = "\\f" + std::to_string(i);
    std::shuffle(runs.begin(), runs.end(), random);
    int64_t vcn = 0;
    for (TFileRun& run : runs) {
      run.vcn = vcn;
      vcn += run.length;
    }
    kept.push_back(files[i]);
  }
  return Layout(total, free, kept);
}

TEST(DefragmentSchedule, EverySchedulePassesItsReplayOnRandomVolumes) {
  std::mt19937_64 random(19);
  for (int round = 0; round < 200; ++round) {
    const TMoveLayout layout = RandomLayout(random, 2000, 30, 40);
    const TMoveSchedule schedule = ScheduleDefragment(layout, 1 + random() % 50);
    ASSERT_EQ(ReplaySchedule(layout, schedule), "") << "round " << round;
    // Every fragmented file is moved or left with a reason, never both.
    int64_t fragmented = 0;
    for (const TMovableFile& file : layout.files) fragmented += CountPieces(file.runs) > 1;
    EXPECT_EQ(schedule.files + static_cast<int64_t>(schedule.left.size()), fragmented);
  }
}

// Free clusters as the test follows them, simply: first cluster -> the
// cluster after, joined where they touch.
class TFreeClusters {
 public:
  explicit TFreeClusters(const std::vector<TClusterExtent>& extents) {
    for (const TClusterExtent& extent : extents) Give(extent.lcn, extent.End());
  }
  void Give(int64_t lcn, int64_t end) {
    auto after = free_.lower_bound(lcn);
    if (after != free_.begin() && std::prev(after)->second == lcn) {
      lcn = std::prev(after)->first;
      free_.erase(std::prev(after));
    }
    after = free_.find(end);
    if (after != free_.end()) {
      end = after->second;
      free_.erase(after);
    }
    free_[lcn] = end;
  }
  void Take(int64_t lcn, int64_t end) {
    auto extent = std::prev(free_.upper_bound(lcn));
    const auto [start, stop] = *extent;
    free_.erase(extent);
    if (start < lcn) free_[start] = lcn;
    if (end < stop) free_[end] = stop;
  }
  // Clusters of the free extent that starts at lcn; 0 when none does.
  int64_t LengthAt(int64_t lcn) const {
    const auto extent = free_.find(lcn);
    return extent == free_.end() ? 0 : extent->second - extent->first;
  }
  // Clusters of the smallest free extent that holds `clusters`, of the
  // largest one with 0; 0 when there is none.
  int64_t Smallest(int64_t clusters) const {
    int64_t best = 0;
    for (const auto& [lcn, end] : free_) {
      const int64_t length = end - lcn;
      if (clusters == 0 ? length > best : length >= clusters && (best == 0 || length < best)) {
        best = length;
      }
    }
    return best;
  }

 private:
  std::map<int64_t, int64_t> free_;
};

TEST(DefragmentSchedule, OnRandomVolumesEachFileTakesTheBestFitAtItsTurn) {
  std::mt19937_64 random(7);
  for (int round = 0; round < 300; ++round) {
    // Short pieces make many extents of one length, and ties.
    const TMoveLayout layout = RandomLayout(random, 3000, 120, 2 + round % 12);
    const int64_t maxStep = 1 + random() % 20;
    const TMoveSchedule schedule = ScheduleDefragment(layout, maxStep);
    // Each moved file's steps follow one another, from its first VCN, laid
    // end to end at its target.
    std::map<size_t, TClusterExtent> targets;
    std::vector<size_t> moved;
    for (size_t at = 0; at < schedule.steps.size();) {
      const size_t file = schedule.steps[at].file;
      ASSERT_EQ(targets.count(file), 0u) << "round " << round;
      const TClusterExtent target{schedule.steps[at].targetLcn, 0};
      const int64_t firstVcn = layout.files[file].runs.front().vcn;
      int64_t clusters = 0;
      for (; at < schedule.steps.size() && schedule.steps[at].file == file; ++at) {
        const TMoveStep& step = schedule.steps[at];
        EXPECT_EQ(step.vcn, firstVcn + clusters);
        EXPECT_EQ(step.targetLcn, target.lcn + clusters);
        EXPECT_LE(step.clusters, maxStep);
        clusters += step.clusters;
      }
      targets[file] = TClusterExtent{target.lcn, clusters};
      moved.push_back(file);
    }
    std::map<size_t, std::string> left;
    for (const TLeftFile& file : schedule.left) left[file.file] = file.reason;
    // Largest first, in layout order among equals; each into the smallest
    // free extent that holds it at its turn, or left when none does.
    std::vector<size_t> turns;
    for (size_t i = 0; i < layout.files.size(); ++i) {
      if (CountPieces(layout.files[i].runs) > 1) turns.push_back(i);
    }
    std::stable_sort(turns.begin(), turns.end(), [&layout](size_t a, size_t b) {
      return AllocatedClusters(layout.files[a].runs) > AllocatedClusters(layout.files[b].runs);
    });
    TFreeClusters free(layout.freeExtents);
    size_t next = 0;
    for (size_t file : turns) {
      const int64_t clusters = AllocatedClusters(layout.files[file].runs);
      const auto target = targets.find(file);
      if (target == targets.end()) {
        EXPECT_LT(free.Smallest(0), clusters) << "round " << round;
        EXPECT_EQ(left[file], "needs " + GroupedNumber(clusters) +
                                  " clusters; the largest free extent holds " +
                                  GroupedNumber(free.Smallest(0)));
        continue;
      }
      ASSERT_LT(next, moved.size());
      EXPECT_EQ(moved[next++], file) << "round " << round;
      EXPECT_EQ(target->second.length, clusters);
      ASSERT_EQ(free.LengthAt(target->second.lcn), free.Smallest(clusters))
          << "round " << round << " file " << file;
      free.Take(target->second.lcn, target->second.End());
      for (const TFileRun& run : layout.files[file].runs) free.Give(run.lcn, run.lcn + run.length);
    }
    EXPECT_EQ(next, moved.size());
    // No step lands on clusters in use.
    ASSERT_EQ(ReplaySchedule(layout, schedule), "") << "round " << round;
  }
}

// The replay refuses each way a schedule could hurt a volume.
TEST(ScheduleReplay, RefusesStepsThatWouldHurtTheVolume) {
  const TMoveLayout layout =
      Layout(1000, {{100, 50}}, {File("a", {{10, 10}, {30, 10}}), File("b", {{60, 5}, {80, 5}})});
  struct TCase {
    const char* what;
    std::vector<TMoveStep> steps;
    const char* error;
  };
  const TCase cases[] = {
      {"onto clusters in use", {{0, 0, 20, 140}}, "step 1 (\\a) moves onto clusters in use"},
      {"outside the volume",
       {{0, 0, 20, 995}},
       "step 1 (\\a) moves to clusters outside the volume"},
      {"clusters the file does not hold",
       {{0, 15, 10, 100}},
       "step 1 (\\a) moves clusters its file does not hold"},
      {"onto what an earlier step took",
       {{0, 0, 20, 100}, {1, 0, 10, 110}},
       "step 2 (\\b) moves onto clusters in use"},
      {"leaving a file in pieces", {{0, 0, 10, 100}}, "\\a is left in 2 pieces"},
      {"a file that does not exist", {{7, 0, 1, 100}}, "step 1 (no such file) names no file"},
  };
  for (const TCase& test : cases) {
    TMoveSchedule schedule;
    schedule.steps = test.steps;
    EXPECT_EQ(ReplaySchedule(layout, schedule), test.error) << test.what;
  }
}

// The replay looks some steps ahead while it plays the steps at hand: a bad
// step far into a long schedule (a file or clusters far outside the
// layout) is still refused at its turn, with its number, and is never read
// through before.
TEST(ScheduleReplay, RefusesABadStepFarIntoALongSchedule) {
  const TMoveLayout layout = Layout(1000, {{100, 500}}, {File("a", {{10, 10}, {30, 10}})});
  // Forty legal steps: each cluster of a moves one at a time to 100..119,
  // then again to 120..139.
  std::vector<TMoveStep> legal;
  for (int64_t k = 0; k < 40; ++k) legal.push_back(TMoveStep{0, k % 20, 1, 100 + k});
  struct TCase {
    TMoveStep bad;
    const char* error;
  };
  const TCase cases[] = {
      {{0, 0, 1, -1000}, "step 41 (\\a) moves to clusters outside the volume"},
      {{0, 0, 1, int64_t{1} << 60}, "step 41 (\\a) moves to clusters outside the volume"},
      {{0, 0, 1, 60}, "step 41 (\\a) moves onto clusters in use"},
      {{SIZE_MAX / 2, 0, 1, 200}, "step 41 (no such file) names no file"},
      {{SIZE_MAX, 0, 1, 200}, "step 41 (no such file) names no file"},
  };
  for (const TCase& test : cases) {
    TMoveSchedule schedule;
    schedule.steps = legal;
    schedule.steps.push_back(test.bad);
    // Legal steps after it too: they are looked at ahead of it.
    schedule.steps.insert(schedule.steps.end(), legal.begin(), legal.begin() + 20);
    EXPECT_EQ(ReplaySchedule(layout, schedule), test.error) << test.error;
  }
  // Without the bad step, the forty play through and leave a whole.
  TMoveSchedule schedule;
  schedule.steps = legal;
  EXPECT_EQ(ReplaySchedule(layout, schedule), "");
}

TEST(ScheduleReplay, AStepMayReuseWhatAnEarlierStepReleased) {
  const TMoveLayout layout =
      Layout(1000, {{100, 20}}, {File("a", {{10, 10}, {30, 10}}), File("b", {{60, 10}, {80, 10}})});
  TMoveSchedule schedule;
  // a goes to 100 and releases 10..20 and 30..40, which b may then take;
  // taken apart, they leave b in two pieces.
  schedule.steps = {{0, 0, 20, 100}, {1, 0, 10, 10}, {1, 10, 10, 30}};
  EXPECT_EQ(ReplaySchedule(layout, schedule), "\\b is left in 2 pieces");
  // 40..50 was never released.
  schedule.steps = {{0, 0, 20, 100}, {1, 0, 10, 30}, {1, 10, 10, 40}};
  EXPECT_EQ(ReplaySchedule(layout, schedule), "step 3 (\\b) moves onto clusters in use");
}

// A step of no clusters moves nothing its file holds, wherever it points.
TEST(ScheduleReplay, RefusesAStepOfNoClusters) {
  const TMoveLayout layout = Layout(1000, {{100, 50}}, {File("a", {{10, 10}, {30, 10}})});
  for (const int64_t target : {100, 120, 500}) {
    TMoveSchedule schedule;
    schedule.steps = {{0, 0, 0, target}};
    EXPECT_EQ(ReplaySchedule(layout, schedule),
              "step 1 (\\a) moves clusters its file does not hold")
        << target;
  }
}

TEST(MoveRuns, AMovedRangeSplitsItsRunsAndJoinsWhatContinuesIt) {
  const std::vector<TFileRun> runs = {{0, 100, 10}, {10, 300, 10}};
  std::vector<TFileRun> moved;
  std::vector<TFileRun> from;
  ASSERT_TRUE(MoveRuns(runs, 5, 10, 110, &moved, &from));
  // 0..5 stay at 100, 5..15 go to 110, 15..20 stay at 305.
  const std::vector<TFileRun> expected = {{0, 100, 5}, {5, 110, 10}, {15, 305, 5}};
  EXPECT_EQ(moved, expected);
  const std::vector<TFileRun> expectedFrom = {{5, 105, 5}, {10, 300, 5}};
  EXPECT_EQ(from, expectedFrom);
  // A move that makes the runs continue each other joins them.
  ASSERT_TRUE(MoveRuns(runs, 10, 10, 110, &moved));
  const std::vector<TFileRun> joined = {{0, 100, 20}};
  EXPECT_EQ(moved, joined);
  // A range over a hole or past the end is refused.
  const std::vector<TFileRun> sparse = {{0, 100, 10}, {10, -1, 10}};
  EXPECT_FALSE(MoveRuns(sparse, 5, 10, 500, &moved));
  EXPECT_FALSE(MoveRuns(runs, 15, 10, 500, &moved));
}

TEST(MoveLayout, HoldsEachFragmentedFileOnceWithWhyItMayNotMove) {
  TItem* root = AddItem(nullptr, "D:\\", 0, true, {{10, 2}, {40, 2}});
  TItem* docs = AddItem(root, "docs", 0, true, {{20, 1}, {30, 1}});
  AddItem(docs, "whole.txt", 4096, false, {{50, 4}});
  TItem* linked = AddItem(docs, "a.txt", 8192, false, {{60, 1}, {70, 1}});
  linked->fileId = 77;
  TItem* again = AddItem(root, "b.txt", 8192, false, {{60, 1}, {70, 1}});
  again->fileId = 77;
  AddItem(root, "sparse.bin", 0, false, {{80, 1}, {-1, 5}, {90, 1}});
  TItem* damaged = AddItem(root, "bad.txt", 0, false, {{100, 1}, {110, 1}});
  damaged->flags |= kItemDamaged;
  TFragment* free = NewFragment(nullptr, 0, 200, 50);

  const TMoveLayout layout = LayoutFromTree('D', root, free, 1000, 4096);
  ASSERT_EQ(layout.files.size(), 5u);
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"\\", "the root folder's index is not moved"},
      {"\\docs", ""},
      {"\\docs\\a.txt", ""},
      {"\\sparse.bin", "sparse or compressed: its holes are not moved"},
      {"\\bad.txt", "the volume contradicts itself about it"},
  };
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(layout.files[i].listingPath, expected[i].first);
    EXPECT_EQ(layout.files[i].notMovable, expected[i].second) << expected[i].first;
  }
  EXPECT_EQ(MovePath(layout.driveLetter, layout.files[1]), "D:\\docs");
  EXPECT_EQ(layout.files[1].stream, TMoveStream::kFolderIndex);
  EXPECT_EQ(layout.files[2].stream, TMoveStream::kData);
  EXPECT_EQ(layout.freeExtents, (std::vector<TClusterExtent>{{200, 50}}));
  ReleaseItem(root);
  ReleaseFragments(free);
}

TEST(MoveLayout, GroupedNumbersReadAsUsersWriteThem) {
  EXPECT_EQ(GroupedNumber(0), "0");
  EXPECT_EQ(GroupedNumber(999), "999");
  EXPECT_EQ(GroupedNumber(5000), "5,000");
  EXPECT_EQ(GroupedNumber(1234567), "1,234,567");
  EXPECT_EQ(GroupedNumber(-1234), "-1,234");
}

}  // namespace
