#include "ui/win32/summary_panel.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <utility>

#include "drive/drive_optimizer.h"
#include "moving/move_layout.h"
#include "ui/cluster_map.h"
#include "ui/path_search.h"
#include "ui/readable_size.h"
#include "ui/summary_figures.h"
#include "ui/win32/drawing_resources.h"
#include "ui/win32/fragment_view.h"

namespace {

constexpr char kPanelClassName[] = "TSummaryPanel";
constexpr UINT_PTR kSearchTimerId = 1;
constexpr UINT kSearchDelayMilliseconds = 300;  // a search runs once typing pauses this long
constexpr int kSearchId = 1;                    // the edit box's control identifier
// Pixels: a label's row, the edit box's, and the space between parts.
constexpr int kLabelHeight = 18;
constexpr int kEditHeight = 22;
constexpr int kSpacing = 4;
// Pixels a list view's column needs beside its text (its margins each side).
constexpr int kColumnPadding = 16;

// Registers the panel's class, and the list views' (comctl32), once in the
// process, whichever drive thread makes the first panel.
void RegisterPanelClassOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    WNDCLASSEXA panelClass = {};
    panelClass.cbSize = sizeof panelClass;
    panelClass.lpfnWndProc = SummaryPanelProc;
    panelClass.hInstance = GetModuleHandleA(nullptr);
    panelClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    panelClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    panelClass.lpszClassName = kPanelClassName;
    RegisterClassExA(&panelClass);
  });
}

HWND MakeChild(const char* className, const char* text, HWND parent, DWORD style,
               DWORD extendedStyle = 0, int identifier = 0) {
  HWND child = CreateWindowExA(extendedStyle, className, text, WS_CHILD | WS_VISIBLE | style, 0, 0,
                               0, 0, parent, reinterpret_cast<HMENU>(INT_PTR{identifier}),
                               GetModuleHandleA(nullptr), nullptr);
  SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(guiFont), 0);
  return child;
}

void AddColumn(HWND list, int index, const char* title, int width, int format) {
  LVCOLUMNA column = {};
  column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
  column.fmt = format;
  column.cx = width;
  column.pszText = const_cast<char*>(title);
  SendMessageA(list, LVM_INSERTCOLUMNA, index, reinterpret_cast<LPARAM>(&column));
}

// Sets the text of row's column (a new row for column 0).
void SetCell(HWND list, int row, int column, const std::string& text) {
  LVITEMA item = {};
  item.mask = LVIF_TEXT;
  item.iItem = row;
  item.iSubItem = column;
  item.pszText = const_cast<char*>(text.c_str());
  SendMessageA(list, column == 0 ? LVM_INSERTITEMA : LVM_SETITEMTEXTA, row,
               reinterpret_cast<LPARAM>(&item));
}

void Place(HWND child, int x, int y, int width, int height) {
  MoveWindow(child, x, y, std::max(0, width), std::max(0, height), TRUE);
}

// The search box's own procedure before the box's: Enter runs the search at
// once (an edit box alone only beeps at it). refData is the panel, which
// outlives the box.
LRESULT CALLBACK SearchBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam,
                               UINT_PTR /*id*/, DWORD_PTR refData) {
  if (message == WM_KEYDOWN && wParam == VK_RETURN) {
    reinterpret_cast<TSummaryPanel*>(refData)->Search();
    return 0;
  }
  // The character Enter also sends: no beep.
  if (message == WM_CHAR && wParam == '\r') return 0;
  if (message == WM_NCDESTROY) RemoveWindowSubclass(box, SearchBoxProc, 1);
  return DefSubclassProc(box, message, wParam, lParam);
}

}  // namespace

TSummaryPanel::TSummaryPanel(const TDriveOptimizer& optimizer, TFragmentView* fragmentView)
    : drive(optimizer), paths(UserPathsOf(optimizer)), view(fragmentView) {}

TSummaryPanel::~TSummaryPanel() {
  if (window != nullptr) {
    SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    DestroyWindow(window);
  }
  if (boldFont != nullptr) DeleteObject(boldFont);
}

std::unique_ptr<TSummaryPanel> CreateSummaryPanel(HWND parent, const TDriveOptimizer& drive,
                                                  TFragmentView* view,
                                                  const std::string& movesSummary) {
  RegisterPanelClassOnce();
  std::unique_ptr<TSummaryPanel> panel(new TSummaryPanel(drive, view));
  // WM_NCCREATE binds the window to the panel.
  HWND window = CreateWindowExA(WS_EX_CONTROLPARENT, kPanelClassName, "",
                                WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 0, 0, parent,
                                nullptr, GetModuleHandleA(nullptr), panel.get());
  if (window == nullptr) return nullptr;
  panel->MakeChildren(movesSummary);
  return panel;
}

void TSummaryPanel::MakeChildren(const std::string& movesSummary) {
  LOGFONTA bold = {};
  GetObjectA(guiFont, sizeof bold, &bold);
  bold.lfWeight = FW_BOLD;
  boldFont = CreateFontIndirectA(&bold);
  for (const char* title : {"Summary", "Find items by path", "Most fragmented files"}) {
    HWND heading = MakeChild("STATIC", title, window, SS_NOPREFIX);
    if (boldFont != nullptr)
      SendMessageA(heading, WM_SETFONT, reinterpret_cast<WPARAM>(boldFont), 0);
    headings.push_back(heading);
  }

  figures = MakeChild(WC_LISTVIEWA, "", window,
                      LVS_REPORT | LVS_NOCOLUMNHEADER | LVS_NOSORTHEADER | LVS_SINGLESEL,
                      WS_EX_CLIENTEDGE);
  SendMessageA(figures, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_INFOTIP, LVS_EX_INFOTIP);
  // The values from the left, as a table of label and value reads: a value
  // set against the column's right edge loses the overhang of its last
  // glyph (the arm of an "r") to the edge.
  AddColumn(figures, 0, "Figure", 125, LVCFMT_LEFT);
  AddColumn(figures, 1, "Value", 120, LVCFMT_LEFT);
  const int64_t clusterBytes = drive.clusterMap != nullptr ? drive.clusterMap->clusterBytes : 0;
  const std::vector<TSummaryFigure> shown = SummaryFigures(drive.summary, clusterBytes);
  for (size_t i = 0; i < shown.size(); ++i) {
    SetCell(figures, static_cast<int>(i), 0, shown[i].label);
    SetCell(figures, static_cast<int>(i), 1, shown[i].value);
    figureDetails.push_back(shown[i].detail);
  }
  if (!movesSummary.empty())
    movesLabel = MakeChild("STATIC", movesSummary.c_str(), window, SS_NOPREFIX);

  search = MakeChild("EDIT", "", window, ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE, kSearchId);
  SendMessageA(search, EM_SETCUEBANNER, TRUE,
               reinterpret_cast<LPARAM>(L"part of a path, e.g. .log or \\docs\\"));
  SetWindowSubclass(search, SearchBoxProc, 1, reinterpret_cast<DWORD_PTR>(this));
  searchResult = MakeChild("STATIC", "", window, SS_NOPREFIX);

  files = MakeChild(WC_LISTVIEWA, "", window,
                    LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | WS_TABSTOP, WS_EX_CLIENTEDGE);
  SendMessageA(files, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP,
               LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP);
  AddColumn(files, 0, "Path", 180, LVCFMT_LEFT);
  AddColumn(files, 1, "Size", 80, LVCFMT_RIGHT);
  AddColumn(files, 2, "Fragments", 80, LVCFMT_RIGHT);
  rows = MostFragmentedFiles(drive.root, paths, kFragmentedFilesListed);
  SortFiles(sortColumn, sortAscending);
}

void TSummaryPanel::Layout() {
  RECT client;
  GetClientRect(window, &client);
  const int width = client.right;
  int y = 0;
  Place(headings[0], 0, y, width, kLabelHeight);
  y += kLabelHeight;
  // Every figure shows, with no scroll bar: the list is as tall as its rows.
  const int figureCount = static_cast<int>(figureDetails.size());
  const DWORD needed = static_cast<DWORD>(
      SendMessageA(figures, LVM_APPROXIMATEVIEWRECT, figureCount, MAKELPARAM(-1, -1)));
  const int figuresHeight = HIWORD(needed) + 2 * GetSystemMetrics(SM_CYEDGE);
  Place(figures, 0, y, width, figuresHeight);
  // The label column as wide as its widest label, the value column the
  // rest of the list's client.
  int labelWidth = 0;
  for (int row = 0; row < figureCount; ++row) {
    char label[128] = {};
    LVITEMA item = {};
    item.pszText = label;
    item.cchTextMax = sizeof label;
    SendMessageA(figures, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
    labelWidth =
        std::max(labelWidth, static_cast<int>(SendMessageA(figures, LVM_GETSTRINGWIDTHA, 0,
                                                           reinterpret_cast<LPARAM>(label))));
  }
  labelWidth += kColumnPadding;
  SendMessageA(figures, LVM_SETCOLUMNWIDTH, 0, labelWidth);
  RECT inside;
  GetClientRect(figures, &inside);
  SendMessageA(figures, LVM_SETCOLUMNWIDTH, 1, std::max(40, int{inside.right} - labelWidth));
  y += figuresHeight + kSpacing;
  if (movesLabel != nullptr) {
    Place(movesLabel, 0, y, width, 3 * kLabelHeight);
    y += 3 * kLabelHeight + kSpacing;
  }
  Place(headings[1], 0, y, width, kLabelHeight);
  y += kLabelHeight;
  Place(search, 0, y, width, kEditHeight);
  y += kEditHeight;
  Place(searchResult, 0, y, width, kLabelHeight);
  y += kLabelHeight + kSpacing;
  Place(headings[2], 0, y, width, kLabelHeight);
  y += kLabelHeight;
  Place(files, 0, y, width, client.bottom - y);
  // The path takes what the numbers and the scroll bar leave.
  GetClientRect(files, &inside);
  const int numbers = static_cast<int>(SendMessageA(files, LVM_GETCOLUMNWIDTH, 1, 0) +
                                       SendMessageA(files, LVM_GETCOLUMNWIDTH, 2, 0));
  SendMessageA(files, LVM_SETCOLUMNWIDTH, 0,
               std::max(60, int{inside.right} - numbers - GetSystemMetrics(SM_CXVSCROLL)));
}

void TSummaryPanel::SortFiles(TFragmentedFilesColumn column, bool ascending) {
  sortColumn = column;
  sortAscending = ascending;
  SortFragmentedFiles(&rows, column, ascending);
  // The header's arrow (drawn where the common controls are version 6).
  HWND header = reinterpret_cast<HWND>(SendMessageA(files, LVM_GETHEADER, 0, 0));
  for (int i = 0; i < 3; ++i) {
    HDITEMA item = {};
    item.mask = HDI_FORMAT;
    SendMessageA(header, HDM_GETITEMA, i, reinterpret_cast<LPARAM>(&item));
    item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
    if (i == static_cast<int>(column)) item.fmt |= ascending ? HDF_SORTUP : HDF_SORTDOWN;
    SendMessageA(header, HDM_SETITEMA, i, reinterpret_cast<LPARAM>(&item));
  }
  FillFiles();
}

void TSummaryPanel::FillFiles() {
  filling = true;
  SendMessageA(files, WM_SETREDRAW, FALSE, 0);
  SendMessageA(files, LVM_DELETEALLITEMS, 0, 0);
  for (size_t i = 0; i < rows.size(); ++i) {
    const TFragmentedFileRow& file = rows[i];
    const int row = static_cast<int>(i);
    SetCell(files, row, 0, file.path);
    SetCell(files, row, 1, ReadableSize(file.bytes));
    SetCell(files, row, 2, GroupedNumber(file.fragments));
  }
  SendMessageA(files, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(files, nullptr, TRUE);
  filling = false;
}

void TSummaryPanel::HeaderClicked(int column) {
  const auto clicked = static_cast<TFragmentedFilesColumn>(column);
  const bool ascending =
      clicked == sortColumn ? !sortAscending : clicked == TFragmentedFilesColumn::kPath;
  SortFiles(clicked, ascending);
}

void TSummaryPanel::SelectRow(int row) {
  if (row < 0 || row >= static_cast<int>(rows.size()) || view == nullptr) return;
  view->SelectItems({rows[static_cast<size_t>(row)].item});
}

void TSummaryPanel::Search() {
  KillTimer(window, kSearchTimerId);
  const int length = GetWindowTextLengthA(search);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  GetWindowTextA(search, &text[0], length + 1);
  text.resize(static_cast<size_t>(length));
  if (text.empty()) {
    SetWindowTextA(searchResult, "");
    return;
  }
  std::vector<const TItem*> found = ItemsWhosePathHolds(drive.root, paths, text);
  const size_t count = found.size();
  const std::string said = count == 0 ? std::string("No item's path holds that.")
                                      : GroupedNumber(static_cast<int64_t>(count)) +
                                            (count == 1 ? " item matches" : " items match") +
                                            ", outlined on the map";
  SetWindowTextA(searchResult, said.c_str());
  if (view != nullptr) view->SelectItems(std::move(found));
}

LRESULT TSummaryPanel::Notify(const NMHDR& notice) {
  if (notice.hwndFrom == files && notice.code == LVN_COLUMNCLICK) {
    HeaderClicked(reinterpret_cast<const NMLISTVIEW&>(notice).iSubItem);
  } else if (notice.hwndFrom == files && notice.code == LVN_ITEMCHANGED) {
    // A row newly selected, by the mouse or the keys; not the refill's.
    const auto& change = reinterpret_cast<const NMLISTVIEW&>(notice);
    if (!filling && (change.uChanged & LVIF_STATE) != 0 &&
        (change.uNewState & LVIS_SELECTED) != 0 && (change.uOldState & LVIS_SELECTED) == 0) {
      SelectRow(change.iItem);
    }
  } else if (notice.code == LVN_GETINFOTIPA) {
    // A figure's exact bytes and clusters; a file's whole path and bytes.
    auto& tip = const_cast<NMLVGETINFOTIPA&>(reinterpret_cast<const NMLVGETINFOTIPA&>(notice));
    const size_t row = static_cast<size_t>(tip.iItem);
    std::string text;
    if (notice.hwndFrom == figures && row < figureDetails.size()) text = figureDetails[row];
    if (notice.hwndFrom == files && row < rows.size())
      text = rows[row].path + "\n" + ExactBytesText(rows[row].bytes);
    if (tip.pszText != nullptr && tip.cchTextMax > 0) {
      const size_t room = static_cast<size_t>(tip.cchTextMax) - 1;
      tip.pszText[text.copy(tip.pszText, room)] = '\0';
    }
  }
  return 0;
}

void TSummaryPanel::Command(WPARAM wParam, LPARAM lParam) {
  if (reinterpret_cast<HWND>(lParam) == search && HIWORD(wParam) == EN_CHANGE)
    SetTimer(window, kSearchTimerId, kSearchDelayMilliseconds, nullptr);
}

TSummaryPanel* SummaryPanelOf(HWND window) {
  char className[32] = {};
  GetClassNameA(window, className, sizeof className);
  if (std::strcmp(className, kPanelClassName) != 0) return nullptr;
  return reinterpret_cast<TSummaryPanel*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

LRESULT CALLBACK SummaryPanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* made =
        static_cast<TSummaryPanel*>(reinterpret_cast<const CREATESTRUCTA*>(lParam)->lpCreateParams);
    made->window = window;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(made));
  }
  auto* panel = reinterpret_cast<TSummaryPanel*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (panel == nullptr) return DefWindowProcA(window, message, wParam, lParam);
  switch (message) {
    case WM_SIZE:
      panel->Layout();
      return 0;
    case WM_NOTIFY:
      return panel->Notify(*reinterpret_cast<const NMHDR*>(lParam));
    case WM_COMMAND:
      panel->Command(wParam, lParam);
      return 0;
    case WM_TIMER:
      if (wParam == kSearchTimerId) panel->Search();
      return 0;
    case WM_NCDESTROY:
      // Gone with the drive window: the panel only forgets it.
      SetWindowLongPtrA(window, GWLP_USERDATA, 0);
      panel->window = nullptr;
      break;
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}
