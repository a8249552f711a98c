#include "ui/progress_lines.h"

#include "moving/move_layout.h"

namespace {

std::string Prefix(const TDriveProgress& drive, double seconds) {
  char elapsed[32];
  std::snprintf(elapsed, sizeof elapsed, "%.2f s ", seconds);
  return "diskopt: " + drive.name + ": " + elapsed;
}

}  // namespace

TProgressLines::TProgressLines(FILE* to, bool terminal) : to_(to), terminal_(terminal) {}

void TProgressLines::StageStarted(TDriveProgress& drive, double seconds, const char* stage,
                                  int64_t count) {
  // The stage before counted: its final count, unless shown already.
  if (count != drive.stageBase && count != drive.shownCount) ShowCount(drive, seconds, count, true);
  EndInPlaceLine();
  std::fprintf(to_, "%s%s\n", Prefix(drive, seconds).c_str(), stage);
  std::fflush(to_);
  drive.stageBase = count;
  drive.shownCount = count;
}

void TProgressLines::Failed(const TDriveProgress& drive, const std::string& reason) {
  EndInPlaceLine();
  std::fprintf(to_, "diskopt: %s: %s\n", drive.name.c_str(), reason.c_str());
  std::fflush(to_);
}

void TProgressLines::CountNow(TDriveProgress& drive, double seconds, int64_t count) {
  if (count != drive.shownCount) ShowCount(drive, seconds, count, false);
}

void TProgressLines::ShowCount(TDriveProgress& drive, double seconds, int64_t count, bool final) {
  drive.shownCount = count;
  ShowInPlace(drive, Prefix(drive, seconds) + std::to_string(count - drive.stageBase) + " items",
              final);
}

void TProgressLines::MovesNow(TDriveProgress& drive, double seconds, const TMovesFigures& figures) {
  if (drive.movesSince < 0) drive.movesSince = seconds;
  if (figures.clustersDone == drive.shownClusters) return;
  drive.shownClusters = figures.clustersDone;
  ShowInPlace(drive,
              Prefix(drive, seconds) + MovesProgressText(figures, seconds - drive.movesSince),
              false);
}

std::string MovesProgressText(const TMovesFigures& figures, double secondsMoving) {
  std::string text = "moved " + GroupedNumber(figures.filesDone) + " of " +
                     GroupedNumber(figures.filesTotal) + " files, " +
                     GroupedNumber(figures.clustersDone) + " of " +
                     GroupedNumber(figures.clustersTotal) + " clusters";
  if (figures.clustersDone <= 0 || secondsMoving <= 0) return text;
  const double bytesPerSecond = static_cast<double>(figures.clustersDone) *
                                static_cast<double>(figures.clusterBytes) / secondsMoving;
  const double secondsLeft = static_cast<double>(figures.clustersTotal - figures.clustersDone) *
                             secondsMoving / static_cast<double>(figures.clustersDone);
  char rate[96];
  std::snprintf(rate, sizeof rate, ", %.1f MiB/s, %.0f s left", bytesPerSecond / (1024.0 * 1024.0),
                secondsLeft < 0 ? 0.0 : secondsLeft);
  return text + rate;
}

void TProgressLines::ShowInPlace(const TDriveProgress& drive, const std::string& line, bool final) {
  if (!terminal_) {
    std::fprintf(to_, "%s\n", line.c_str());
    std::fflush(to_);
    return;
  }
  if (inPlaceOwner_ != &drive) EndInPlaceLine();
  // Blanks over what is left of a longer line before.
  const size_t blanks = inPlaceLength_ > line.size() ? inPlaceLength_ - line.size() : 0;
  std::fprintf(to_, "\r%s%*s", line.c_str(), static_cast<int>(blanks), "");
  inPlaceOwner_ = &drive;
  inPlaceLength_ = line.size();
  if (final) EndInPlaceLine();
  std::fflush(to_);
}

void TProgressLines::EndInPlaceLine() {
  if (inPlaceOwner_ == nullptr) return;
  std::fputc('\n', to_);
  inPlaceOwner_ = nullptr;
  inPlaceLength_ = 0;
}
