// The summary panel on Qt: beside the map once the analysis has finished,
// the summary's figures as a table (sizes in KiB, MiB and GiB, the exact
// bytes in each tooltip), the most fragmented files as a table that sorts by
// any column and selects a file on the map when its row is clicked, and a
// search box that selects and outlines every item whose path holds the text
// typed. The figures, rows and matches come from ui/summary_figures,
// ui/fragmented_files_table and ui/path_search.
//
// Ownership: the drive window owns the panel through Qt's parent chain and
// deletes it before the drive forgets its tree (the rows name its items).
// The view is the window's too; the panel only points at it, and a view
// deleted first is simply no longer told.
#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <string>
#include <vector>

#include "drive/user_paths.h"
#include "ui/fragmented_files_table.h"

class QLabel;
class QLineEdit;
class QTableWidget;
class TDriveOptimizer;
class TFragmentView;

class TSummaryPanel : public QWidget {
 public:
  // The panel of drive's finished analysis (its summary and tree, which
  // must outlive the panel) for view; movesSummary is what the window's last
  // run of moves did, empty for none.
  TSummaryPanel(QWidget* parent, const TDriveOptimizer& drive, TFragmentView* view,
                const std::string& movesSummary);

  QTableWidget* Figures() const { return figures; }
  QTableWidget* Files() const { return files; }
  QLineEdit* SearchBox() const { return search; }
  QLabel* SearchResult() const { return searchResult; }

  // Orders the files' table by column (as a click on its header does).
  void SortFiles(TFragmentedFilesColumn column, bool ascending);
  // Selects the file of row (as shown) on the map and scrolls the map to it.
  void SelectRow(int row);
  // Selects and outlines every item whose path holds the search box's text.
  void Search();

 private:
  // Shows rows in the files' table, in their order.
  void FillFiles();
  // A click on the header of column: that column, ascending first for the
  // path and descending first for the numbers, the other way on a second click.
  void HeaderClicked(int column);

  const TDriveOptimizer& drive;          // not owned; outlives the panel
  const TUserPaths paths;                // how the table and the search name items
  QPointer<TFragmentView> view;          // not owned; none once the view has gone
  std::vector<TFragmentedFileRow> rows;  // the files' table, as shown
  TFragmentedFilesColumn sortColumn = TFragmentedFilesColumn::kFragments;
  bool sortAscending = false;
  // Children, owned through the parent chain.
  QTableWidget* figures;
  QTableWidget* files;
  QLineEdit* search;
  QLabel* searchResult;
  QTimer searchDelay;  // a search runs once typing pauses, or at Enter
};
