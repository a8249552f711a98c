#include "ui/qt/summary_panel.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QVBoxLayout>

#include "drive/drive_optimizer.h"
#include "moving/move_layout.h"
#include "ui/cluster_map.h"
#include "ui/path_search.h"
#include "ui/qt/drawing_resources.h"
#include "ui/qt/fragment_view.h"
#include "ui/readable_size.h"
#include "ui/summary_figures.h"

namespace {

constexpr int kSearchDelayMilliseconds = 300;

// A cell that is read, never edited; tooltip may be empty.
QTableWidgetItem* ReadOnlyCell(const std::string& text, const std::string& tooltip,
                               Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter) {
  auto* cell = new QTableWidgetItem(QString::fromUtf8(text.c_str()));
  cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  cell->setTextAlignment(alignment);
  if (!tooltip.empty()) cell->setToolTip(QString::fromUtf8(tooltip.c_str()));
  return cell;
}

// A table of compact rows without a row header or editing.
QTableWidget* NewTable(QWidget* parent, int columns) {
  auto* table = new QTableWidget(0, columns, parent);
  table->verticalHeader()->hide();
  table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setWordWrap(false);
  return table;
}

QLabel* Heading(const char* text, QWidget* parent) {
  auto* label = new QLabel(QString::fromLatin1(text), parent);
  QFont bold = label->font();
  bold.setBold(true);
  label->setFont(bold);
  return label;
}

}  // namespace

TSummaryPanel::TSummaryPanel(QWidget* parent, const TDriveOptimizer& optimizer,
                             TFragmentView* fragmentView, const std::string& movesSummary)
    : QWidget(parent), drive(optimizer), paths(UserPathsOf(optimizer)), view(fragmentView) {
  setFont(QtDrawingResources().guiFont);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(4);

  layout->addWidget(Heading("Summary", this));
  figures = NewTable(this, 2);
  figures->horizontalHeader()->hide();
  figures->setSelectionMode(QAbstractItemView::NoSelection);
  figures->setFocusPolicy(Qt::NoFocus);
  const int64_t clusterBytes = drive.clusterMap != nullptr ? drive.clusterMap->clusterBytes : 0;
  const std::vector<TSummaryFigure> rowsShown = SummaryFigures(drive.summary, clusterBytes);
  figures->setRowCount(static_cast<int>(rowsShown.size()));
  for (size_t i = 0; i < rowsShown.size(); ++i) {
    const int row = static_cast<int>(i);
    figures->setItem(row, 0, ReadOnlyCell(rowsShown[i].label, rowsShown[i].detail));
    figures->setItem(row, 1, ReadOnlyCell(rowsShown[i].value, rowsShown[i].detail));
  }
  figures->resizeColumnToContents(0);
  figures->horizontalHeader()->setStretchLastSection(true);
  figures->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  figures->setFixedHeight(figures->verticalHeader()->length() + 2 * figures->frameWidth());
  layout->addWidget(figures);
  if (!movesSummary.empty()) {
    auto* moves = new QLabel(QString::fromUtf8(movesSummary.c_str()), this);
    moves->setTextFormat(Qt::PlainText);
    moves->setWordWrap(true);
    layout->addWidget(moves);
  }

  layout->addWidget(Heading("Find items by path", this));
  search = new QLineEdit(this);
  const std::string docs = paths.separator + std::string("docs") + paths.separator;
  search->setPlaceholderText(QString::fromStdString("part of a path, e.g. .log or " + docs));
  search->setClearButtonEnabled(true);
  layout->addWidget(search);
  searchResult = new QLabel(this);
  searchResult->setTextFormat(Qt::PlainText);
  layout->addWidget(searchResult);
  searchDelay.setSingleShot(true);
  searchDelay.setInterval(kSearchDelayMilliseconds);
  connect(&searchDelay, &QTimer::timeout, this, &TSummaryPanel::Search);
  connect(search, &QLineEdit::textEdited, this, [this] { searchDelay.start(); });
  connect(search, &QLineEdit::returnPressed, this, &TSummaryPanel::Search);

  layout->addWidget(Heading("Most fragmented files", this));
  files = NewTable(this, 3);
  files->setHorizontalHeaderLabels(
      {QStringLiteral("Path"), QStringLiteral("Size"), QStringLiteral("Fragments")});
  files->setSelectionBehavior(QAbstractItemView::SelectRows);
  files->setSelectionMode(QAbstractItemView::SingleSelection);
  // The file's name, at the path's end, is what a reader looks for first.
  files->setTextElideMode(Qt::ElideLeft);
  QHeaderView* header = files->horizontalHeader();
  header->setSectionResizeMode(0, QHeaderView::Stretch);
  header->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  header->setSectionResizeMode(2, QHeaderView::ResizeToContents);
  header->setSectionsClickable(true);
  header->setSortIndicatorShown(true);
  connect(header, &QHeaderView::sectionClicked, this, &TSummaryPanel::HeaderClicked);
  connect(files, &QTableWidget::cellClicked, this, [this](int row, int) { SelectRow(row); });
  connect(files, &QTableWidget::currentCellChanged, this,
          [this](int row, int, int, int) { SelectRow(row); });
  layout->addWidget(files, 1);

  rows = MostFragmentedFiles(drive.root, paths, kFragmentedFilesListed);
  SortFiles(sortColumn, sortAscending);
}

void TSummaryPanel::SortFiles(TFragmentedFilesColumn column, bool ascending) {
  sortColumn = column;
  sortAscending = ascending;
  SortFragmentedFiles(&rows, column, ascending);
  files->horizontalHeader()->setSortIndicator(static_cast<int>(column),
                                              ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
  FillFiles();
}

void TSummaryPanel::HeaderClicked(int column) {
  const auto clicked = static_cast<TFragmentedFilesColumn>(column);
  const bool ascending =
      clicked == sortColumn ? !sortAscending : clicked == TFragmentedFilesColumn::kPath;
  SortFiles(clicked, ascending);
}

void TSummaryPanel::FillFiles() {
  // Refilling moves the current cell; that selects nothing on the map.
  const QSignalBlocker quiet(files);
  files->clearContents();
  files->setRowCount(static_cast<int>(rows.size()));
  const Qt::Alignment right = Qt::AlignRight | Qt::AlignVCenter;
  for (size_t i = 0; i < rows.size(); ++i) {
    const TFragmentedFileRow& file = rows[i];
    const int row = static_cast<int>(i);
    files->setItem(row, 0, ReadOnlyCell(file.path, file.path));
    files->setItem(row, 1,
                   ReadOnlyCell(ReadableSize(file.bytes), ExactBytesText(file.bytes), right));
    files->setItem(row, 2, ReadOnlyCell(GroupedNumber(file.fragments), std::string(), right));
  }
}

void TSummaryPanel::SelectRow(int row) {
  if (row < 0 || row >= static_cast<int>(rows.size()) || view == nullptr) return;
  view->SelectItems({rows[static_cast<size_t>(row)].item});
}

void TSummaryPanel::Search() {
  searchDelay.stop();
  const std::string text = search->text().toUtf8().toStdString();
  if (text.empty()) {
    searchResult->clear();
    return;
  }
  std::vector<const TItem*> found = ItemsWhosePathHolds(drive.root, paths, text);
  const size_t count = found.size();
  if (count == 0) {
    searchResult->setText(QStringLiteral("No item's path holds that."));
  } else {
    searchResult->setText(QString::fromStdString(GroupedNumber(static_cast<int64_t>(count)) +
                                                 (count == 1 ? " item matches" : " items match") +
                                                 ", outlined on the map"));
  }
  if (view != nullptr) view->SelectItems(std::move(found));
}
