// The progress lines of a run without a display, as a pipe and as a
// terminal receive them.
#include "ui/progress_lines.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

// Collects what the lines write.
class TCapture {
 public:
  TCapture() : file(std::tmpfile()) {}
  ~TCapture() { std::fclose(file); }
  std::string Text() const {
    std::fflush(file);
    std::string text(static_cast<size_t>(std::ftell(file)), '\0');
    std::rewind(file);
    text.resize(std::fread(&text[0], 1, text.size(), file));
    std::fseek(file, 0, SEEK_END);
    return text;
  }
  FILE* file;
};

// One drive through a scan of 120 items, shown at two ticks, and a free
// space map that counts nothing.
void PlayScan(TProgressLines& lines, TDriveProgress& drive) {
  lines.StageStarted(drive, 0.0, "Creating memory tree", 0);
  lines.CountNow(drive, 1.0, 50);
  lines.CountNow(drive, 2.0, 50);  // no change: nothing shown
  lines.CountNow(drive, 3.0, 100);
  lines.StageStarted(drive, 3.5, "Mapping free space", 120);
  lines.CountNow(drive, 4.5, 120);  // the map counts nothing
  lines.StageStarted(drive, 4.75, "Filling data into the memory tree", 120);
  lines.CountNow(drive, 5.75, 150);  // the retrieval counts from its own start
}

TEST(ProgressLinesTest, OnAPipeEveryCountIsALineOfItsOwn) {
  TCapture capture;
  TProgressLines lines(capture.file, false);
  TDriveProgress drive;
  drive.name = "/srv/disk.img";
  PlayScan(lines, drive);
  EXPECT_EQ(capture.Text(),
            "diskopt: /srv/disk.img: 0.00 s Creating memory tree\n"
            "diskopt: /srv/disk.img: 1.00 s 50 items\n"
            "diskopt: /srv/disk.img: 3.00 s 100 items\n"
            "diskopt: /srv/disk.img: 3.50 s 120 items\n"
            "diskopt: /srv/disk.img: 3.50 s Mapping free space\n"
            "diskopt: /srv/disk.img: 4.75 s Filling data into the memory tree\n"
            "diskopt: /srv/disk.img: 5.75 s 30 items\n");
}

TEST(ProgressLinesTest, OnATerminalTheCountIsRewrittenInPlaceAndItsLastValueStays) {
  TCapture capture;
  TProgressLines lines(capture.file, true);
  TDriveProgress drive;
  drive.name = "D";
  PlayScan(lines, drive);
  EXPECT_EQ(capture.Text(),
            "diskopt: D: 0.00 s Creating memory tree\n"
            "\rdiskopt: D: 1.00 s 50 items"
            "\rdiskopt: D: 3.00 s 100 items"
            "\rdiskopt: D: 3.50 s 120 items\n"
            "diskopt: D: 3.50 s Mapping free space\n"
            "diskopt: D: 4.75 s Filling data into the memory tree\n"
            "\rdiskopt: D: 5.75 s 30 items");
}

TEST(ProgressLinesTest, OnATerminalAShorterCountBlanksTheRestAndDrivesKeepTheirOwnLines) {
  TCapture capture;
  TProgressLines lines(capture.file, true);
  TDriveProgress d;
  d.name = "D";
  TDriveProgress e;
  e.name = "E";
  lines.StageStarted(d, 0.0, "Creating memory tree", 0);
  lines.CountNow(d, 9.0, 100000);
  // A tick may read the counter after the next stage has begun on the
  // worker and before word of its start has arrived; the start's own count
  // then takes the line whole.
  lines.StageStarted(d, 8.5, "Mapping free space", 99999);
  lines.StageStarted(d, 12.5, "Filling data into the memory tree", 99999);
  lines.CountNow(d, 13.5, 100001);
  lines.CountNow(e, 13.5, 7);  // another drive: a line of its own
  lines.StageStarted(e, 14.0, "Mapping free space", 7);
  EXPECT_EQ(capture.Text(),
            "diskopt: D: 0.00 s Creating memory tree\n"
            "\rdiskopt: D: 9.00 s 100000 items"
            "\rdiskopt: D: 8.50 s 99999 items \n"
            "diskopt: D: 8.50 s Mapping free space\n"
            "diskopt: D: 12.50 s Filling data into the memory tree\n"
            "\rdiskopt: D: 13.50 s 2 items"
            "\n\rdiskopt: E: 13.50 s 7 items\n"
            "diskopt: E: 14.00 s Mapping free space\n");
}

}  // namespace
