// Everything the map answers beyond the described view, for one drive: the
// tooltip of the cell under a point, the picture after the plan once the
// worker has finished, the texts of the summary and legend, and the commands
// of the context menu and keys that need no window. Either shell keeps one
// beside its view's logic and asks it.
//
// Threads: lives on the window's thread. It reads the tree and free extents
// (fixed once the drive's runs are known) at once, and the plan, summary and
// zones only after the worker has published "Finished", which orders the
// worker's writes of them before the reads.
#pragma once

#include <string>
#include <utility>

#include "drive/user_paths.h"
#include "ui/fragment_view_logic.h"
#include "ui/free_space_index.h"
#include "ui/map_commands.h"
#include "ui/planned_map.h"

class TDriveOptimizer;

// An item for the status bar: its path as shown, its size and its
// fragments (physically contiguous pieces), "D:\docs\a.txt, 36.0 KiB, 3
// fragments".
std::string SelectedItemText(const TItem* item, const std::string& path);

class TMapSession {
 public:
  // The drive outlives the session; the map asked about is the one its
  // view's logic draws.
  explicit TMapSession(TDriveOptimizer& drive);

  // Checks whether the worker has finished. True when it has.
  bool PollWorkFinished();
  // Shows the map as it is now or after the plan; false when logic shows it
  // so already, or there is no plan yet. The planned picture is made at the
  // first showing and handed to logic: many windows never show it, and on a
  // large volume it takes long enough to hold up the end of the work.
  bool SetMode(TFragmentViewLogic& logic, TMapMode mode);
  bool WorkFinished() const { return workFinished; }

  // The tooltip for pixel x, y of the view's client area: in the planned
  // view what lies there after the plan, otherwise what lies there now;
  // empty where no cell is painted.
  std::string HoverAt(const TFragmentViewLogic& logic, int x, int y) const;
  // An item's path as the user knows it (user_paths.h): what the window
  // shows of items, while the logs keep listing paths.
  std::string PathOf(const TItem* item) const;

  // The view commands every shell carries out the same way: zoom, the plan,
  // the selection. True when the view must update its scroll bar and
  // repaint; false for a command that changed nothing or is not a view
  // command (summary, legend, export, picture: the shell's own).
  bool Apply(TMapCommand command, TFragmentViewLogic& logic);

  // The message box texts. The summary ends with what the window's last
  // run of moves did, when it has made one (SetMovesSummary).
  std::string SummaryText() const;
  // What the window's last run of moves did (FormatMovesSummary), made on the
  // window's thread once its worker has ended.
  void SetMovesSummary(std::string text) { movesSummary = std::move(text); }
  static std::string LegendText(const TFragmentViewLogic& logic);
  // The selected item for the status bar, by its path as the user knows
  // it (SelectedItemText); empty without a selection.
  std::string SelectionText(const TFragmentViewLogic& logic) const;
  // The drive's free extents, which the view's logic colours by.
  const TFreeSpaceIndex& FreeSpace() const { return freeSpace; }
  // The zoom and the view, for the status bar beside the described text:
  // "1 cluster per cell, volume now", "64 clusters per cell, volume after
  // the plan".
  static std::string ViewStateText(const TFragmentViewLogic& logic);
  static constexpr const char* kSummaryCaption = "Summary";
  static constexpr const char* kLegendCaption = "Legend";

  // The export of the drive to <folder>/drive-<L>.json; "" when written,
  // otherwise why not.
  std::string ExportJson(const std::string& folder) const;

 private:
  TDriveOptimizer& drive;
  TFreeSpaceIndex freeSpace;
  TPlannedMap plannedMap;  // empty until the planned view is first shown
  const TUserPaths paths;  // how the drive's items are named to the user
  bool workFinished = false;
  std::string movesSummary;  // see SetMovesSummary; empty for none
};
