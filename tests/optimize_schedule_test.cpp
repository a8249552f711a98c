// The schedule that carries out the zone layout: every step lands on free
// clusters, every file ends at its place or is named with the reason, files
// without a place never move, and the clusters moved stay close to those
// that must move.
#include "moving/optimize_schedule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "moving/schedule_replay.h"

namespace {

using TPlaces = std::vector<std::vector<TFileRun>>;

TMovableFile File(const char* path, std::vector<TFileRun> runs) {
  return TMovableFile{path, 0, TMoveStream::kData, std::move(runs), ""};
}

// A volume of 100 clusters: what the files and free extents leave out is the
// file system's own.
TMoveLayout Volume(std::vector<TMovableFile> files, std::vector<TClusterExtent> free) {
  TMoveLayout layout;
  layout.driveLetter = 'D';
  layout.totalClusters = 100;
  layout.clusterBytes = 4096;
  layout.files = std::move(files);
  layout.freeExtents = std::move(free);
  return layout;
}

std::string ReasonFor(const TOptimizeSchedule& schedule, size_t file) {
  for (const TLeftFile& left : schedule.moves.left) {
    if (left.file == file) return left.reason;
  }
  return "";
}

TEST(OptimizeSchedule, TwoFilesThatHoldEachOthersPlacesArePartedThroughFreeSpace) {
  const TMoveLayout layout =
      Volume({File("\\a", {{0, 10, 10}}), File("\\b", {{0, 20, 10}})}, {{50, 50}});
  const TPlaces places = {{{0, 20, 10}}, {{0, 10, 10}}};
  const TOptimizeSchedule schedule = ScheduleOptimize(layout, places, 4);
  EXPECT_EQ(ReplayOptimize(layout, places, schedule.moves), "");
  EXPECT_TRUE(schedule.moves.left.empty());
  EXPECT_EQ(schedule.clustersNeeded, 20);
  EXPECT_EQ(schedule.clustersParked, 10);
  EXPECT_EQ(schedule.moves.clusters, 30);
  for (const TMoveStep& step : schedule.moves.steps) EXPECT_LE(step.clusters, 4);
}

TEST(OptimizeSchedule, AFileInTheWayGoesStraightToItsOwnPlaceWhenThatIsFree) {
  // \a's place holds \b, whose own place is free: nothing is parked.
  const TMoveLayout layout = Volume(
      {File("\\a", {{0, 30, 5}, {5, 40, 5}}), File("\\b", {{0, 0, 10}})}, {{10, 20}, {60, 40}});
  const TPlaces places = {{{0, 0, 10}}, {{0, 10, 10}}};
  const TOptimizeSchedule schedule = ScheduleOptimize(layout, places, 64);
  EXPECT_EQ(ReplayOptimize(layout, places, schedule.moves), "");
  EXPECT_EQ(schedule.clustersParked, 0);
  EXPECT_EQ(schedule.moves.clusters, schedule.clustersNeeded);
}

TEST(OptimizeSchedule, APieceParkedWhereNothingOutsideThePlacesHoldsItGoesWholeInOneStep) {
  // \a and \b hold each other's places. Outside every place there are only
  // three single free clusters, at the top; below them the place of \d,
  // still to be filled, is free. \b's four clusters go there in one step,
  // not in four steps over the holes and the place, then into its own
  // place in one more.
  const TMoveLayout layout =
      Volume({File("\\a", {{0, 0, 4}}), File("\\b", {{0, 10, 4}}), File("\\c", {{0, 40, 10}}),
              File("\\d", {{0, 60, 10}}), File("\\s", {{0, 4, 6}, {6, 14, 26}, {32, 80, 15}}),
              File("\\t", {{0, 96, 1}}), File("\\u", {{0, 98, 1}})},
             {{50, 10}, {70, 10}, {95, 1}, {97, 1}, {99, 1}});
  const TPlaces places = {{{0, 10, 4}}, {{0, 0, 4}}, {{0, 50, 10}}, {{0, 70, 10}}, {}, {}, {}};
  const TOptimizeSchedule schedule = ScheduleOptimize(layout, places, 64);
  EXPECT_EQ(ReplayOptimize(layout, places, schedule.moves), "");
  EXPECT_TRUE(schedule.moves.left.empty());
  EXPECT_EQ(schedule.clustersParked, 4);
  const auto stepsOf = [&](size_t file) {
    return std::count_if(schedule.moves.steps.begin(), schedule.moves.steps.end(),
                         [file](const TMoveStep& step) { return step.file == file; });
  };
  EXPECT_EQ(stepsOf(0) + stepsOf(1), 3);
}

TEST(OptimizeSchedule, ALongCycleIsPartedByParkingOneFileOnly) {
  // Twenty thousand files of five clusters, each lying in the place of the
  // one before it, and five clusters free at the end: one file goes out of
  // the way, every other moves once, straight to its place.
  constexpr int64_t kFiles = 20000;
  TMoveLayout layout = Volume({}, {{kFiles * 5, 5}});
  layout.totalClusters = kFiles * 5 + 5;
  TPlaces places;
  for (int64_t file = 0; file < kFiles; ++file) {
    layout.files.push_back(File("", {{0, file * 5, 5}}));
    places.push_back({{0, (file + 1) % kFiles * 5, 5}});
  }
  const TOptimizeSchedule schedule = ScheduleOptimize(layout, places, 2);
  EXPECT_EQ(ReplayOptimize(layout, places, schedule.moves), "");
  EXPECT_TRUE(schedule.moves.left.empty());
  EXPECT_EQ(schedule.clustersNeeded, kFiles * 5);
  EXPECT_EQ(schedule.clustersParked, 5);
  EXPECT_EQ(schedule.moves.clusters, kFiles * 5 + 5);
}

TEST(OptimizeSchedule, AFileAFewClustersOffItsPlaceMovesInAFewLargeSteps) {
  // Sliding 40 clusters along by 2 at a time would take 20 steps.
  const TMoveLayout layout = Volume({File("\\a", {{0, 2, 40}})}, {{0, 2}, {42, 58}});
  const TPlaces places = {{{0, 0, 40}}};
  const TOptimizeSchedule schedule = ScheduleOptimize(layout, places, 64);
  EXPECT_EQ(ReplayOptimize(layout, places, schedule.moves), "");
  EXPECT_TRUE(schedule.moves.left.empty());
  EXPECT_LE(schedule.moves.steps.size(), 4u);
  EXPECT_LE(schedule.moves.clusters, 2 * 40);
}

TEST(OptimizeSchedule, AFileWithTooLittleRoomToBeParkedIsSlidIntoItsPlace) {
  const TMoveLayout layout = Volume({File("\\a", {{0, 2, 40}})}, {{0, 2}});
  const TPlaces places = {{{0, 0, 40}}};
  const TOptimizeSchedule schedule = ScheduleOptimize(layout, places, 64);
  EXPECT_EQ(ReplayOptimize(layout, places, schedule.moves), "");
  EXPECT_TRUE(schedule.moves.left.empty());
  EXPECT_EQ(schedule.moves.clusters, 40);
}

TEST(OptimizeSchedule, FilesThatCannotBePlacedAreLeftWithTheReasonAndNothingElseMoves) {
  const struct {
    const char* what;
    TMoveLayout layout;
    TPlaces places;
    size_t left;
    const char* reason;
  } cases[] = {
      {"the place holds the file system's clusters",
       Volume({File("\\a", {{0, 10, 10}})}, {{50, 50}}),
       {{{0, 45, 10}}},
       0,
       "its place holds clusters of the file system, which cannot move"},
      {"the place holds a file that stays",
       Volume({File("\\a", {{0, 10, 10}}), File("\\keep", {{0, 30, 10}})}, {{20, 10}, {50, 50}}),
       {{{0, 25, 10}}, {}},
       0,
       "its place holds \\keep, which stays where it is"},
      {"no free space at all to part a cycle",
       Volume({File("\\a", {{0, 10, 10}}), File("\\b", {{0, 20, 10}})}, {}),
       {{{0, 20, 10}}, {{0, 10, 10}}},
       1,
       "there is no free space to make room for it"},
      {"the place covers other VCNs than the file holds",
       Volume({File("\\a", {{0, 10, 10}})}, {{50, 50}}),
       {{{0, 60, 8}}},
       0,
       "its place does not match its clusters"},
  };
  for (const auto& c : cases) {
    const TOptimizeSchedule schedule = ScheduleOptimize(c.layout, c.places, 64);
    EXPECT_EQ(ReasonFor(schedule, c.left), c.reason) << c.what;
    EXPECT_EQ(ReplayOptimize(c.layout, c.places, schedule.moves), "") << c.what;
  }
}

TEST(OptimizeSchedule, AFileLeftIsMovedOutOfTheWayRatherThanLeavingThoseWhosePlacesItHolds) {
  // Each case: which files the schedule leaves; every other file with a
  // place ends there (the replay proves it).
  TMoveLayout notMovable =
      Volume({File("\\a", {{0, 10, 10}}), File("\\b", {{0, 30, 10}})}, {{20, 10}, {50, 50}});
  notMovable.files[0].notMovable = "it is a file the file system keeps where it is";
  const struct {
    const char* what;
    TMoveLayout layout;
    TPlaces places;
    std::vector<size_t> left;
  } cases[] = {
      {"a chain: \\a's place holds the file system's clusters, \\b's holds \\a, \\c's "
       "holds \\b",
       Volume({File("\\a", {{0, 10, 10}}), File("\\b", {{0, 30, 10}}), File("\\c", {{0, 60, 10}})},
              {{20, 10}, {40, 15}, {70, 30}}),
       {{{0, 50, 10}}, {{0, 10, 10}}, {{0, 30, 10}}},
       {0}},
      {"\\a's place does not match its clusters, and \\b's holds it",
       Volume({File("\\a", {{0, 10, 10}}), File("\\b", {{0, 30, 10}})}, {{20, 10}, {50, 50}}),
       {{{0, 60, 8}}, {{0, 10, 10}}},
       {0}},
      {"a file that may not move still holds up the one whose place it holds",
       notMovable,
       {{{0, 60, 10}}, {{0, 10, 10}}},
       {0, 1}},
  };
  for (const auto& c : cases) {
    const TOptimizeSchedule schedule = ScheduleOptimize(c.layout, c.places, 4);
    std::vector<size_t> left;
    for (const TLeftFile& file : schedule.moves.left) left.push_back(file.file);
    EXPECT_EQ(left, c.left) << c.what;
    EXPECT_EQ(ReplayOptimize(c.layout, c.places, schedule.moves), "") << c.what;
  }
}

TEST(OptimizeSchedule, AFileLeftInACycleIsParkedWholeOutOfBothPlaces) {
  // \a and \b hold each other's places; \a's place also holds the file
  // system's clusters, so \a is left, and \b goes to its place only once
  // \a is out of it, in the free space at the end.
  const TMoveLayout layout =
      Volume({File("\\a", {{0, 10, 10}}), File("\\b", {{0, 20, 10}})}, {{80, 20}});
  const TPlaces places = {{{0, 25, 10}}, {{0, 10, 10}}};
  const TOptimizeSchedule schedule = ScheduleOptimize(layout, places, 64);
  EXPECT_EQ(ReplayOptimize(layout, places, schedule.moves), "");
  ASSERT_EQ(schedule.moves.left.size(), 1u);
  EXPECT_EQ(schedule.moves.left[0].file, 0u);
  int64_t aMoved = 0;
  for (const TMoveStep& step : schedule.moves.steps) {
    if (step.file != 0) continue;
    aMoved += step.clusters;
    EXPECT_GE(step.targetLcn, 80) << "parked outside both places";
  }
  EXPECT_EQ(aMoved, 10);
  EXPECT_EQ(schedule.clustersParked, 10);
}

TEST(OptimizeSchedule, TheReplayRefusesAScheduleThatMovesAFileThatMayNotMoveEvenIfLeft) {
  TMoveLayout layout = Volume({File("\\a", {{0, 10, 10}})}, {{50, 50}});
  layout.files[0].notMovable = "it is a file the file system keeps where it is";
  const TPlaces places = {{{0, 50, 10}}};
  TMoveSchedule schedule;
  schedule.steps = {TMoveStep{0, 0, 10, 80}};
  schedule.left = {TLeftFile{0, std::string(layout.files[0].notMovable)}};
  EXPECT_EQ(ReplayOptimize(layout, places, schedule), "\\a moved, though it may not move");
}

// A random volume as the zone plan sees it: files in pieces among islands
// of the file system's clusters, files that stay (no place) and free space;
// each movable file gets a place packed from the volume's start in a random
// order, around the islands and the files that stay.
struct TRandomVolume {
  TMoveLayout layout;
  TPlaces places;
};

// longestRun: the most clusters of a piece; one piece in continueOneIn
// continues a recent file rather than starting one; one place in
// overIslandsOneIn (0: none) is packed over the islands and the files that
// stay, as a plan that counted on them moving would.
TRandomVolume RandomVolume(std::mt19937_64& random, int64_t totalClusters, double freeShare,
                           int64_t longestRun = 12, uint64_t continueOneIn = 3,
                           uint64_t overIslandsOneIn = 0) {
  TRandomVolume volume;
  TMoveLayout& layout = volume.layout;
  layout.driveLetter = 'D';
  layout.totalClusters = totalClusters;
  layout.clusterBytes = 4096;
  // Each cluster: -2 free, -1 the file system's, else a file's index.
  std::vector<int> owner(static_cast<size_t>(totalClusters), -2);
  std::vector<size_t> stays;
  for (int64_t lcn = 0; lcn < totalClusters;) {
    const int64_t length =
        std::min<int64_t>(totalClusters - lcn, 1 + static_cast<int64_t>(random() % longestRun));
    const double roll = std::uniform_real_distribution<double>(0, 1)(random);
    if (roll < freeShare) {
      // free
    } else if (roll < freeShare + 0.05) {
      std::fill(owner.begin() + lcn, owner.begin() + lcn + length, -1);
    } else {
      // A new file, or the next piece of a recent one.
      size_t file = layout.files.size();
      if (file > 0 && random() % continueOneIn == 0) {
        file -= 1 + random() % std::min<size_t>(file, 4);
      }
      if (file == layout.files.size()) {
        layout.files.push_back(File("", {}));
        layout.files.back().listingPath = "\\f" + std::to_string(file);
        if (random() % 10 == 0) stays.push_back(file);
      }
      std::vector<TFileRun>& runs = layout.files[file].runs;
      const int64_t vcn = runs.empty() ? 0 : runs.back().vcn + runs.back().length;
      runs.push_back(TFileRun{vcn, lcn, length});
      std::fill(owner.begin() + lcn, owner.begin() + lcn + length, static_cast<int>(file));
    }
    lcn += length;
  }
  for (int64_t lcn = 0; lcn < totalClusters; ++lcn) {
    if (owner[lcn] != -2) continue;
    if (!layout.freeExtents.empty() && layout.freeExtents.back().End() == lcn) {
      ++layout.freeExtents.back().length;
    } else {
      layout.freeExtents.push_back(TClusterExtent{lcn, 1});
    }
  }
  // Places: packed from the start in a random order, each file's clusters in
  // as few runs as the islands and files that stay allow.
  volume.places.assign(layout.files.size(), {});
  std::vector<size_t> order(layout.files.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), random);
  const auto fixed = [&](int64_t lcn) {
    const int who = owner[lcn];
    return who == -1 || (who >= 0 && std::find(stays.begin(), stays.end(),
                                               static_cast<size_t>(who)) != stays.end());
  };
  int64_t cursor = 0;
  for (const size_t file : order) {
    if (std::find(stays.begin(), stays.end(), file) != stays.end()) continue;
    int64_t vcn = 0;
    const int64_t clusters = AllocatedClusters(layout.files[file].runs);
    const bool overIslands = overIslandsOneIn != 0 && random() % overIslandsOneIn == 0;
    std::vector<TFileRun> place;
    while (vcn < clusters && cursor < totalClusters) {
      if (fixed(cursor) && !overIslands) {
        ++cursor;
        continue;
      }
      if (!place.empty() && place.back().lcn + place.back().length == cursor) {
        ++place.back().length;
      } else {
        place.push_back(TFileRun{vcn, cursor, 1});
      }
      ++vcn;
      ++cursor;
    }
    if (vcn == clusters) volume.places[file] = place;
  }
  return volume;
}

TEST(OptimizeSchedule, OnRandomVolumesEveryStepIsLegalAndEveryFileEndsAtItsPlaceOrIsNamed) {
  std::mt19937_64 random(20261209);
  int64_t moved = 0;
  int64_t needed = 0;
  int64_t filesLeft = 0;
  for (int round = 0; round < 300; ++round) {
    const double freeShare = round % 3 == 0 ? 0.05 : round % 3 == 1 ? 0.15 : 0.35;
    const TRandomVolume volume = RandomVolume(random, 200 + random() % 1800, freeShare);
    const TOptimizeSchedule schedule =
        ScheduleOptimize(volume.layout, volume.places, 1 + random() % 16);
    ASSERT_EQ(ReplayOptimize(volume.layout, volume.places, schedule.moves), "")
        << "round " << round;
    moved += schedule.moves.clusters;
    needed += schedule.clustersNeeded;
    filesLeft += static_cast<int64_t>(schedule.moves.left.size());
    for (const TLeftFile& left : schedule.moves.left) {
      ASSERT_FALSE(left.reason.empty()) << "round " << round;
    }
  }
  ASSERT_GT(needed, 0);
  const double ratio = static_cast<double>(moved) / static_cast<double>(needed);
  RecordProperty("moved_per_needed", std::to_string(ratio));
  RecordProperty("files_left", std::to_string(filesLeft));
  std::printf("clusters moved per cluster that must move: %.3f; files left: %lld\n", ratio,
              static_cast<long long>(filesLeft));
}

TEST(OptimizeSchedule, OnTightCrowdedAndLargeFileVolumesEveryScheduleReplays) {
  const struct {
    const char* what;
    double freeShare;
    int64_t longestRun;
    uint64_t continueOneIn;
    int64_t longestStep;
    uint64_t overIslandsOneIn;
  } kinds[] = {
      {"1% free", 0.01, 12, 3, 16, 0},
      {"no free space but what the islands leave", 0.0, 12, 3, 16, 0},
      {"many files of a cluster or two", 0.05, 1, 4, 4, 0},
      {"files many times larger than a step", 0.10, 64, 2, 3, 0},
      {"large files, 2% free", 0.02, 64, 2, 64, 0},
      {"files of hundreds of clusters", 0.15, 600, 2, 64, 0},
      {"one place in eight over the islands", 0.05, 12, 3, 16, 8},
  };
  std::mt19937_64 random(20261210);
  for (const auto& kind : kinds) {
    int64_t moved = 0;
    int64_t needed = 0;
    int64_t filesLeft = 0;
    for (int round = 0; round < 60; ++round) {
      const TRandomVolume volume =
          RandomVolume(random, 200 + random() % 3000, kind.freeShare, kind.longestRun,
                       kind.continueOneIn, kind.overIslandsOneIn);
      const int64_t longestStep = 1 + static_cast<int64_t>(random() % kind.longestStep);
      const TOptimizeSchedule schedule =
          ScheduleOptimize(volume.layout, volume.places, longestStep);
      ASSERT_EQ(ReplayOptimize(volume.layout, volume.places, schedule.moves), "")
          << kind.what << ", round " << round;
      for (const TMoveStep& step : schedule.moves.steps) {
        ASSERT_LE(step.clusters, longestStep) << kind.what << ", round " << round;
      }
      moved += schedule.moves.clusters;
      needed += schedule.clustersNeeded;
      filesLeft += static_cast<int64_t>(schedule.moves.left.size());
    }
    std::printf("%s: clusters moved per cluster that must move: %.3f; files left: %lld\n",
                kind.what,
                static_cast<double>(moved) / static_cast<double>(std::max<int64_t>(needed, 1)),
                static_cast<long long>(filesLeft));
  }
}

}  // namespace
