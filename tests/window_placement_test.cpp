// Where the drive windows of a run go: one alone at the described place,
// several as tiles that never overlap, many as cascades whose windows never
// share a place and stay on the screen.
#include "ui/window_placement.h"

#include <gtest/gtest.h>

#include <vector>

#include "ui/drive_window_layout.h"

namespace {

bool Overlap(const TRect& a, const TRect& b) {
  return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

bool Inside(const TRect& inner, const TRect& outer) {
  return inner.x >= outer.x && inner.y >= outer.y &&
         inner.x + inner.width <= outer.x + outer.width &&
         inner.y + inner.height <= outer.y + outer.height;
}

std::vector<TRect> Places(const TRect& screen, int count) {
  const TRect described = InitialDriveWindowRect(screen.width, screen.height);
  std::vector<TRect> places;
  for (int index = 0; index < count; ++index) {
    places.push_back(DriveWindowPlace(screen, count, index, described.width, described.height));
  }
  return places;
}

TEST(WindowPlacement, OneWindowTakesTheDescribedPlace) {
  for (const TRect screen : {TRect{0, 0, 1920, 1080}, TRect{0, 0, 800, 600}}) {
    const TRect place = Places(screen, 1)[0];
    EXPECT_EQ(place.x, 40);
    EXPECT_EQ(place.y, 40);
    EXPECT_EQ(place.width, screen.width - 80);
    EXPECT_EQ(place.height, screen.height - 80);
  }
}

TEST(WindowPlacement, TwoWindowsSideBySideShareTheDescribedPlace) {
  const std::vector<TRect> places = Places(TRect{0, 0, 1920, 1080}, 2);
  EXPECT_EQ(places[0].x, 40);
  EXPECT_EQ(places[0].y, 40);
  EXPECT_EQ(places[0].width, 920);
  EXPECT_EQ(places[0].height, 1000);
  EXPECT_EQ(places[1].x, 960);
  EXPECT_EQ(places[1].y, 40);
  EXPECT_EQ(places[1].width, 920);
  EXPECT_EQ(places[1].height, 1000);
}

// Every run of windows on every screen: each window on the screen, none at
// another's place, tiles (where the count fits) apart and no smaller than
// the smallest tile, cascades where it does not.
TEST(WindowPlacement, WindowsNeverShareAPlaceAndTilesNeverOverlap) {
  struct TCase {
    TRect screen;
    int count;
    bool tiled;
  };
  const TCase cases[] = {
      {{0, 0, 1920, 1080}, 2, true},    {{0, 0, 1920, 1080}, 3, true},
      {{0, 0, 1920, 1080}, 4, true},    {{0, 0, 1920, 1080}, 9, true},
      {{0, 0, 1920, 1080}, 12, true},   {{0, 0, 1920, 1080}, 26, false},
      {{0, 0, 1024, 768}, 2, true},     {{0, 0, 1024, 768}, 5, false},
      {{0, 0, 800, 600}, 2, true},      {{0, 0, 800, 600}, 26, false},
      {{1920, 0, 2560, 1440}, 6, true}, {{-1280, 200, 1280, 1024}, 3, true},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(std::to_string(test.screen.width) + "x" + std::to_string(test.screen.height) +
                 " at " + std::to_string(test.screen.x) + "," + std::to_string(test.screen.y) +
                 ", " + std::to_string(test.count) + " windows");
    const std::vector<TRect> places = Places(test.screen, test.count);
    for (size_t i = 0; i < places.size(); ++i) {
      EXPECT_TRUE(Inside(places[i], test.screen)) << i;
      EXPECT_GE(places[i].width, kSmallestTileWidth) << i;
      EXPECT_GE(places[i].height, kSmallestTileHeight) << i;
      for (size_t j = i + 1; j < places.size(); ++j) {
        EXPECT_FALSE(places[i].x == places[j].x && places[i].y == places[j].y) << i << " " << j;
        if (test.tiled) {
          EXPECT_FALSE(Overlap(places[i], places[j])) << i << " " << j;
        }
      }
    }
    // A cascade: each window below and right of the one before, or a new
    // cascade further right.
    if (!test.tiled) {
      for (size_t i = 1; i < places.size(); ++i) {
        const bool next = places[i].x > places[i - 1].x && places[i].y > places[i - 1].y;
        const bool newCascade = places[i].x > places[0].x && places[i].y == places[0].y;
        EXPECT_TRUE(next || newCascade) << i;
      }
    }
  }
}

TEST(WindowPlacement, AnIndexOutOfTheRunIsTakenAsTheFirst) {
  const TRect screen{0, 0, 1920, 1080};
  const TRect first = DriveWindowPlace(screen, 3, 0, 1840, 1000);
  for (const int index : {-1, 3, 100}) {
    const TRect place = DriveWindowPlace(screen, 3, index, 1840, 1000);
    EXPECT_EQ(place.x, first.x);
    EXPECT_EQ(place.y, first.y);
  }
}

}  // namespace
