// The summary panel on Win32: beside the map once the analysis has
// finished, the summary's figures as a list (sizes in KiB, MiB and GiB with
// the cluster size, the exact bytes in each row's tip), a search box that
// selects and outlines every item whose path holds the text typed, once
// typing pauses or at Enter, and the most fragmented files as a list view that sorts by
// a click on any column's header and selects a file on the map, scrolled to
// it, when its row is selected. The figures, rows and matches come from
// ui/summary_figures, ui/fragmented_files_table and ui/path_search, as on
// Qt; this binds them to a child window of class "TSummaryPanel" with list
// views (comctl32), an edit box and labels.
//
// Ownership: the drive window keeps the panel and deletes it, which
// destroys its window if still there, before the drive forgets its tree (the
// rows name its items) and before the view's window; a panel whose window
// went with the drive window's (WM_NCDESTROY) only forgets it. The view is
// not owned: it outlives the panel.
//
// Threads: the panel and its window live on the drive thread that made them.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "drive/user_paths.h"
#include "ui/fragmented_files_table.h"

class TDriveOptimizer;
class TFragmentView;

class TSummaryPanel {
 public:
  // Destroys the window, if still there, and the headings' font.
  ~TSummaryPanel();
  TSummaryPanel(const TSummaryPanel&) = delete;
  TSummaryPanel& operator=(const TSummaryPanel&) = delete;

  // Orders the files' list by column (as a click on its header does).
  void SortFiles(TFragmentedFilesColumn column, bool ascending);
  // Selects the file of row (as shown) on the map and scrolls the map to it.
  void SelectRow(int row);
  // Selects and outlines every item whose path holds the search box's text.
  void Search();
  // The files' list as shown, top to bottom.
  const std::vector<TFragmentedFileRow>& Rows() const { return rows; }

  HWND window = nullptr;        // the panel, a child of the drive window; none once destroyed
  HWND figures = nullptr;       // list view: figure, value
  HWND search = nullptr;        // edit box
  HWND searchResult = nullptr;  // label: how many items match
  HWND files = nullptr;         // list view: path, size, fragments

 private:
  friend std::unique_ptr<TSummaryPanel> CreateSummaryPanel(HWND, const TDriveOptimizer&,
                                                           TFragmentView*, const std::string&);
  friend LRESULT CALLBACK SummaryPanelProc(HWND, UINT, WPARAM, LPARAM);
  TSummaryPanel(const TDriveOptimizer& drive, TFragmentView* view);

  // Makes the children, fills the figures and the files.
  void MakeChildren(const std::string& movesSummary);
  // Places the children for the panel's client size.
  void Layout();
  // A list view's notice: a header clicked, a row selected, a tip asked.
  LRESULT Notify(const NMHDR& notice);
  // The search box changed: the search runs once typing pauses.
  void Command(WPARAM wParam, LPARAM lParam);
  // Shows rows in the files' list, in their order.
  void FillFiles();
  // A click on the header of column: that column, ascending first for the
  // path and descending first for the numbers, the other way on a second
  // click.
  void HeaderClicked(int column);

  const TDriveOptimizer& drive;          // not owned; outlives the panel
  const TUserPaths paths;                // how the rows and the search name items, as the map does
  TFragmentView* view;                   // not owned; outlives the panel's window
  std::vector<TFragmentedFileRow> rows;  // the files' list, as shown
  std::vector<std::string> figureDetails;  // each figure's exact figures (its tip)
  std::vector<HWND> headings;              // the labels above each part
  HWND movesLabel = nullptr;               // what the last moves did; none without moves
  HFONT boldFont = nullptr;                // the headings' font; owned
  TFragmentedFilesColumn sortColumn = TFragmentedFilesColumn::kFragments;
  bool sortAscending = false;
  bool filling = false;  // while FillFiles runs: its selection changes select nothing
};

// Makes the panel of drive's finished analysis (its summary and tree, which
// must outlive the panel) for view as a visible child of parent, placed by
// the parent's next layout; movesSummary is what the window's last run of
// moves did, empty for none. None when the platform refuses the window.
std::unique_ptr<TSummaryPanel> CreateSummaryPanel(HWND parent, const TDriveOptimizer& drive,
                                                  TFragmentView* view,
                                                  const std::string& movesSummary);

// The panel a window made above stands for; none for any other window, and
// once the panel has gone.
TSummaryPanel* SummaryPanelOf(HWND window);

// The panel procedure: every message of a window made above.
LRESULT CALLBACK SummaryPanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
