#include "ui/progress_lines.h"

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
  const std::string line =
      Prefix(drive, seconds) + std::to_string(count - drive.stageBase) + " items";
  drive.shownCount = count;
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
