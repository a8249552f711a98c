#include "ui/win32/fragment_view.h"

#include <commctrl.h>
#include <commdlg.h>
#include <windowsx.h>

#include <cstdio>
#include <cstring>

#include "drive/drive_name.h"
#include "drive/drive_optimizer.h"
#include "ui/picture_file_name.h"
#include "ui/win32/drawing_resources.h"
#include "ui/win32/fragment_view_class.h"
#include "ui/win32/picture_file.h"
#include "ui/window_moves.h"

static_assert(kWmDestroy == WM_DESTROY && kWmVScroll == WM_VSCROLL && kWmKeyDown == WM_KEYDOWN &&
                  kWmLButtonDown == WM_LBUTTONDOWN && kWmLButtonUp == WM_LBUTTONUP &&
                  kWmMouseMove == WM_MOUSEMOVE && kWmContextMenu == WM_CONTEXTMENU &&
                  kWmChar == WM_CHAR && kWmMouseWheel == WM_MOUSEWHEEL && kWmCommand == WM_COMMAND,
              "the shared dispatch uses the platform's message numbers");
namespace {

// The request of WM_VSCROLL's low word (SB_*).
TScrollRequest ScrollRequestOf(int code) {
  switch (code) {
    case SB_LINEUP:
      return TScrollRequest::kLineUp;
    case SB_LINEDOWN:
      return TScrollRequest::kLineDown;
    case SB_PAGEUP:
      return TScrollRequest::kPageUp;
    case SB_PAGEDOWN:
      return TScrollRequest::kPageDown;
    case SB_THUMBTRACK:
      return TScrollRequest::kThumbTrack;
    case SB_TOP:
      return TScrollRequest::kTop;
    case SB_BOTTOM:
      return TScrollRequest::kBottom;
    default:  // SB_THUMBPOSITION, SB_ENDSCROLL and anything else
      return TScrollRequest::kStay;
  }
}

// The virtual key as one that scrolls the map, or kOther.
TMapScrollKey ScrollKeyOf(int virtualKey) {
  switch (virtualKey) {
    case VK_UP:
      return TMapScrollKey::kUp;
    case VK_DOWN:
      return TMapScrollKey::kDown;
    case VK_PRIOR:
      return TMapScrollKey::kPageUp;
    case VK_NEXT:
      return TMapScrollKey::kPageDown;
    case VK_HOME:
      return TMapScrollKey::kHome;
    case VK_END:
      return TMapScrollKey::kEnd;
    default:
      return TMapScrollKey::kOther;
  }
}

// The procedure every bound view window has: the view sits in the window's
// user-data slot from WM_CREATE until the view is deleted.
LRESULT CALLBACK FragmentViewMessageEntry(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* view = reinterpret_cast<TFragmentView*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (view == nullptr) return DefWindowProcA(window, message, wParam, lParam);
  return view->HandleMessage(window, message, wParam, lParam);
}

HBRUSH BrushOf(TCellColour colour) { return mapBrushes[static_cast<int>(colour)]; }

// The tooltip control of a view window: one tool, the whole window, whose
// text the view sets as the mouse moves from cell to cell.
HWND CreateToolTip(HWND owner) {
  HWND tip = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, owner,
                             nullptr, GetModuleHandleA(nullptr), nullptr);
  if (tip == nullptr) return nullptr;
  TOOLINFOA tool = {};
  tool.cbSize = sizeof tool;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = owner;
  tool.uId = reinterpret_cast<UINT_PTR>(owner);
  tool.lpszText = const_cast<char*>("");
  SendMessageA(tip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
  // A width makes the control break lines at "\n".
  SendMessageA(tip, TTM_SETMAXTIPWIDTH, 0, 600);
  return tip;
}

}  // namespace

TFragmentView::TFragmentView(const TClusterMap* map, TDriveOptimizer* optimizer)
    : window(nullptr),
      messageEntry(FragmentViewMessageEntry),
      clusterMap(map),
      driveOptimizer(optimizer),
      logic(map),
      session(optimizer != nullptr ? new TMapSession(*optimizer) : nullptr),
      tooltip(nullptr) {
  // Cells of several clusters tell free space from space the file system
  // uses without listing it.
  if (session != nullptr) logic.SetFreeSpace(&session->FreeSpace());
}

TFragmentView::~TFragmentView() {
  if (window != nullptr) SetWindowLongPtrA(window, GWLP_USERDATA, 0);
}

LRESULT TFragmentView::HandleMessage(HWND target, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (FragmentViewActionFor(message)) {
    case TFragmentViewAction::kForgetWindow:
      window = nullptr;
      return 0;
    case TFragmentViewAction::kSize:
      OnSize();
      return 0;
    case TFragmentViewAction::kPaint:
      OnPaint();
      return 0;
    case TFragmentViewAction::kScroll:
      OnVScroll(LOWORD(wParam));
      return 0;
    case TFragmentViewAction::kIgnore:
      return 0;
    case TFragmentViewAction::kSelect:
      OnSelect(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
      return 0;
    case TFragmentViewAction::kHover:
      OnHover(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
      return 0;
    case TFragmentViewAction::kContextMenu:
      OnContextMenu(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
      return 0;
    case TFragmentViewAction::kKey:
      OnKey(static_cast<int>(wParam));
      return 0;
    case TFragmentViewAction::kCharacter:
      OnCharacter(static_cast<int>(wParam));
      return 0;
    case TFragmentViewAction::kWheel:
      if (OnWheel(wParam, lParam)) return 0;
      break;
    case TFragmentViewAction::kCommand:
      Command(static_cast<TMapCommand>(LOWORD(wParam)));
      return 0;
    case TFragmentViewAction::kDefault:
      break;
  }
  // The parameter, not window: WM_NCDESTROY still arrives after WM_DESTROY.
  return DefWindowProcA(target, message, wParam, lParam);
}

void TFragmentView::OnSize() {
  // The strip's lines follow the width; the cells take what it leaves.
  if (legendOn) legendHeight = MeasureLegend();
  const TRect area = CellArea();
  logic.OnSize(area.width, area.height);
  // No erase: the paint covers every pixel.
  InvalidateRect(window, nullptr, FALSE);
  UpdateScrollBar();
}

void TFragmentView::UpdateScrollBar() {
  const TScrollBarSettings settings = logic.UpdateScrollBar();
  EnableScrollBar(window, SB_VERT, settings.enabled ? ESB_ENABLE_BOTH : ESB_DISABLE_BOTH);
  SCROLLINFO scroll = {};
  scroll.cbSize = sizeof scroll;
  scroll.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL;
  scroll.nMin = settings.minimum;
  scroll.nMax = settings.maximum;
  scroll.nPage = settings.page;
  scroll.nPos = settings.position;
  SetScrollInfo(window, SB_VERT, &scroll, TRUE);
}

void TFragmentView::OnVScroll(int request) { Scroll(ScrollRequestOf(request)); }

void TFragmentView::OnKey(int virtualKey) {
  const TScrollRequest request = ScrollRequestForKey(ScrollKeyOf(virtualKey));
  if (request != TScrollRequest::kStay) Scroll(request);
}

void TFragmentView::Scroll(TScrollRequest request) {
  SCROLLINFO scroll = {};
  scroll.cbSize = sizeof scroll;
  scroll.fMask = SIF_ALL;
  GetScrollInfo(window, SB_VERT, &scroll);
  // The position as the platform keeps it: SetScrollInfo holds it to
  // nMax - nPage + 1, while the logic may have gone to nMax.
  const TScrollBarState state = {scroll.nPos, scroll.nMax, scroll.nTrackPos};
  scroll.nPos = logic.OnVScroll(request, state);
  scroll.fMask = SIF_ALL;
  SetScrollInfo(window, SB_VERT, &scroll, TRUE);
  InvalidateRect(window, nullptr, FALSE);
}

void TFragmentView::OnPaint() {
  RECT client;
  GetClientRect(window, &client);
  const TRect area = CellArea();
  if (logic.Dirty()) logic.ComputeCells(area.width, area.height);

  PAINTSTRUCT paint;
  HDC screen = BeginPaint(window, &paint);
  const int width = client.right;
  const int height = client.bottom;
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP picture = CreateCompatibleBitmap(screen, width, height);
  // Out of GDI resources nothing is drawn; the next paint tries again.
  if (memory != nullptr && picture != nullptr) {
    HGDIOBJ previous = SelectObject(memory, picture);
    const RECT all = {0, 0, width, height};
    FillRect(memory, &all, viewBackgroundBrush);
    DrawMap(memory, area.width, area.height);
    if (legendOn) DrawLegend(memory, area.height, width);
    BitBlt(screen, 0, 0, width, height, memory, 0, 0, SRCCOPY);
    SelectObject(memory, previous);
  }
  if (memory != nullptr) DeleteDC(memory);
  if (picture != nullptr) DeleteObject(picture);
  EndPaint(window, &paint);
}

void TFragmentView::DrawMap(HDC dc, int width, int height) {
  const RECT area = {0, 0, width, height};
  FillRect(dc, &area, viewBackgroundBrush);
  if (logic.Cells() == nullptr) return;
  for (int i = 0; i < logic.CellCount(); ++i) {
    const TRect cell = logic.CellRect(i);
    // Right and bottom exclusive: neighbouring cells touch without a gap.
    const RECT r = {cell.x, cell.y, cell.x + cell.width, cell.y + cell.height};
    FillRect(dc, &r, BrushOf(logic.PaintedColour(i)));
  }
}

TRect TFragmentView::CellArea() const {
  RECT client = {0, 0, 0, 0};
  if (window != nullptr) GetClientRect(window, &client);
  const int height = static_cast<int>(client.bottom) - legendHeight;
  return TRect{0, 0, static_cast<int>(client.right), height > 0 ? height : 0};
}

int TFragmentView::LegendTop() const { return CellArea().height; }

void TFragmentView::ShowLegend() {
  legendOn = true;
  legendEntries.clear();
  UpdateLegend();
}

std::vector<TLegendPlace> TFragmentView::LegendPlacesIn(HDC dc, int width) const {
  std::vector<int> widths;
  for (const TLegendEntry& entry : legendEntries) {
    SIZE words = {0, 0};
    GetTextExtentPoint32A(dc, entry.label, static_cast<int>(std::strlen(entry.label)), &words);
    widths.push_back(LegendEntryWidth(words.cx));
  }
  return LegendPlaces(widths, width);
}

int TFragmentView::LegendLineHeightIn(HDC dc) {
  TEXTMETRICA metrics = {};
  GetTextMetricsA(dc, &metrics);
  return LegendLineHeight(metrics.tmHeight);
}

int TFragmentView::MeasureLegend() const {
  if (window == nullptr) return 0;
  RECT client;
  GetClientRect(window, &client);
  HDC dc = GetDC(window);
  if (dc == nullptr) return legendHeight;
  HGDIOBJ font = SelectObject(dc, guiFont);
  const int height = LegendHeight(LegendPlacesIn(dc, client.right), LegendLineHeightIn(dc));
  SelectObject(dc, font);
  ReleaseDC(window, dc);
  return height;
}

void TFragmentView::UpdateLegend() {
  if (!legendOn || window == nullptr) return;
  std::vector<TLegendEntry> shown = LegendEntries(logic);
  if (SameLegend(legendEntries, shown)) return;
  legendEntries = std::move(shown);
  const int before = legendHeight;
  legendHeight = MeasureLegend();
  // Another height lays the cells out anew; OnSize repaints either way.
  if (legendHeight != before) {
    OnSize();
  } else {
    InvalidateRect(window, nullptr, FALSE);
  }
}

void TFragmentView::DrawLegend(HDC dc, int top, int width) {
  HGDIOBJ font = SelectObject(dc, guiFont);
  const std::vector<TLegendPlace> places = LegendPlacesIn(dc, width);
  const int lineHeight = LegendLineHeightIn(dc);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
  for (size_t i = 0; i < legendEntries.size(); ++i) {
    const int x = places[i].x;
    const int lineTop = top + kLegendMargin + places[i].line * lineHeight;
    const int swatchTop = lineTop + (lineHeight - kLegendMargin - kLegendSwatchSize) / 2;
    RECT swatch = {x, swatchTop, x + kLegendSwatchSize, swatchTop + kLegendSwatchSize};
    // A dark edge keeps white and light swatches apart from the background.
    FillRect(dc, &swatch, GetSysColorBrush(COLOR_BTNSHADOW));
    InflateRect(&swatch, -1, -1);
    FillRect(dc, &swatch, BrushOf(legendEntries[i].colour));
    RECT words = {x + kLegendSwatchSize + kLegendGap, lineTop, width,
                  lineTop + lineHeight - kLegendMargin};
    DrawTextA(dc, legendEntries[i].label, -1, &words,
              DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  }
  SelectObject(dc, font);
}

TFragmentView* CreateFragmentView(HWND parent, int x, int y, int width, int height,
                                  const TClusterMap* clusterMap, TDriveOptimizer* driveOptimizer) {
  auto* view = new TFragmentView(clusterMap, driveOptimizer);
  HWND window = CreateWindowExA(WS_EX_CLIENTEDGE, kFragmentViewClassName, "",
                                WS_CHILD | WS_VISIBLE | WS_VSCROLL, x, y, width, height, parent,
                                nullptr, GetModuleHandleA(nullptr), view);
  if (window == nullptr) {
    delete view;
    return nullptr;
  }
  view->window = window;
  view->tooltip = CreateToolTip(window);
  return view;
}

void ReleaseFragmentView(TFragmentView* view) { delete view; }

void TFragmentView::OnHover(int x, int y) {
  if (session == nullptr || tooltip == nullptr) return;
  std::string text = session->HoverAt(logic, x, y);
  if (text == tipText) return;
  tipText = std::move(text);
  TOOLINFOA tool = {};
  tool.cbSize = sizeof tool;
  tool.hwnd = window;
  tool.uId = reinterpret_cast<UINT_PTR>(window);
  tool.lpszText = const_cast<char*>(tipText.c_str());
  SendMessageA(tooltip, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&tool));
}

void TFragmentView::OnSelect(int x, int y) {
  // The map's keys reach the view from its first click on.
  SetFocus(window);
  logic.SelectAt(logic.CellAt(x, y));
  InvalidateRect(window, nullptr, FALSE);
  UpdateLegend();
  ShowViewState();
}

void TFragmentView::OnContextMenu(int x, int y) {
  if (session == nullptr) return;
  PollWorkFinished();
  if (x == -1 && y == -1) {
    POINT corner = {0, 0};
    ClientToScreen(window, &corner);
    x = corner.x;
    y = corner.y;
  }
  HMENU menu = CreatePopupMenu();
  if (menu == nullptr) return;
  for (const TMapMenuItem& item : kMapMenu) {
    AppendMenuA(menu, MF_STRING, static_cast<UINT_PTR>(item.command), item.label);
  }
  if (windowMoves != nullptr) {
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    const UINT offered = windowMoves->CanDefragment() ? MF_ENABLED : MF_GRAYED;
    AppendMenuA(menu, MF_STRING | offered, kDefragmentCommandId, kDefragmentLabel);
    AppendMenuA(menu, MF_STRING | offered, kOptimizeCommandId, kOptimizeLabel);
  }
  const int chosen =
      TrackPopupMenu(menu, TPM_RIGHTBUTTON | TPM_RETURNCMD, x, y, 0, window, nullptr);
  DestroyMenu(menu);
  if (chosen == static_cast<int>(kDefragmentCommandId) ||
      chosen == static_cast<int>(kOptimizeCommandId)) {
    // The drive window's own command, as its button sends it.
    SendMessageA(GetParent(window), WM_COMMAND, MAKEWPARAM(chosen, 0), 0);
  } else if (chosen != 0) {
    Command(static_cast<TMapCommand>(chosen));
  }
}

void TFragmentView::OnCharacter(int character) {
  const TMapCommand command = MapCommandForKey(character);
  if (command != static_cast<TMapCommand>(0)) Command(command);
}

bool TFragmentView::OnWheel(WPARAM wParam, LPARAM lParam) {
  if ((GET_KEYSTATE_WPARAM(wParam) & MK_CONTROL) == 0) return false;
  const int delta = GET_WHEEL_DELTA_WPARAM(wParam);
  if (delta == 0) return true;
  POINT point = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
  ScreenToClient(window, &point);
  // About the cell under the mouse, counted in the cells of the current size.
  if (logic.Dirty()) {
    const TRect area = CellArea();
    logic.ComputeCells(area.width, area.height);
  }
  if (logic.ZoomAt(delta > 0, point.x, point.y)) Refresh();
  return true;
}

void TFragmentView::PollWorkFinished() {
  if (session != nullptr) session->PollWorkFinished();
}

void TFragmentView::SetMovesSummary(std::string text) {
  if (session != nullptr) session->SetMovesSummary(std::move(text));
}

void TFragmentView::ShowViewStateIn(HWND statusBar, int selection, int viewState) {
  viewStateBar = statusBar;
  selectionPart = selection;
  viewStatePart = viewState;
  ShowViewState();
}

void TFragmentView::ShowViewState() {
  if (viewStateBar == nullptr) return;
  const std::string text = TMapSession::ViewStateText(logic);
  SendMessageA(viewStateBar, SB_SETTEXTA, viewStatePart, reinterpret_cast<LPARAM>(text.c_str()));
  std::string selection = session != nullptr ? session->SelectionText(logic) : std::string();
  const bool changed = selection != selectionText;
  selectionText = std::move(selection);
  SendMessageA(viewStateBar, SB_SETTEXTA, selectionPart,
               reinterpret_cast<LPARAM>(selectionText.c_str()));
  if (changed && selectionChanged) selectionChanged();
}

void TFragmentView::MapChanged() {
  logic.MapChanged();
  // No window, no paint (a null window would invalidate every window).
  if (window != nullptr) InvalidateRect(window, nullptr, FALSE);
}

void TFragmentView::Command(TMapCommand command) {
  if (session == nullptr) return;
  PollWorkFinished();
  switch (command) {
    case TMapCommand::kSummary:
      if (showSummary && showSummary()) return;
      Say(session->SummaryText(), TMapSession::kSummaryCaption);
      return;
    case TMapCommand::kLegend:
      Say(TMapSession::LegendText(logic), TMapSession::kLegendCaption);
      return;
    case TMapCommand::kExportJson:
      ExportJson();
      return;
    case TMapCommand::kSavePicture:
      SavePicture();
      return;
    default:
      break;
  }
  if (session->Apply(command, logic)) Refresh();
}

void TFragmentView::SelectItems(std::vector<const TItem*> items) {
  if (session == nullptr) return;
  // Outlines are drawn on the volume as it is now.
  session->SetMode(logic, TMapMode::kNow);
  const TItem* first = items.empty() ? nullptr : items.front();
  logic.SelectItems(std::move(items));
  logic.ShowItem(first);
  Refresh();
}

void TFragmentView::Refresh() {
  UpdateScrollBar();
  InvalidateRect(window, nullptr, FALSE);
  UpdateLegend();
  ShowViewState();
}

void TFragmentView::Say(const std::string& text, const char* caption) {
  driveOptimizer->windows.ShowMessage(text.c_str(), caption);
}

namespace {

// Asks where to save, with path holding the name offered; false when the
// user cancels. The offset of the name chosen within path goes to nameOffset.
bool AskSavePath(HWND owner, const char* filter, const char* title, DWORD flags,
                 char (&path)[MAX_PATH], WORD* nameOffset) {
  OPENFILENAMEA dialog = {};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = filter;
  dialog.lpstrFile = path;
  dialog.nMaxFile = sizeof path;
  dialog.lpstrTitle = title;
  dialog.Flags = flags | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
  if (!GetSaveFileNameA(&dialog)) return false;
  *nameOffset = dialog.nFileOffset;
  return true;
}

}  // namespace

void TFragmentView::ExportJson() {
  char path[MAX_PATH];
  std::snprintf(path, sizeof path, "drive-%c.json", driveOptimizer->driveLetter);
  WORD nameOffset = 0;
  if (!AskSavePath(window, "JSON (*.json)\0*.json\0",
                   "Export JSON: the folder to write drive-<letter>.json in", 0, path,
                   &nameOffset)) {
    return;
  }
  // The export names its file itself: the folder chosen is what counts.
  std::string folder(path, nameOffset > 0 ? nameOffset - 1 : 0);
  if (folder.empty()) folder = ".";
  const std::string failure = session->ExportJson(folder);
  if (!failure.empty()) Say(failure, "Export JSON");
}

void TFragmentView::SavePicture() {
  SYSTEMTIME today;
  GetLocalTime(&today);
  const std::string offered =
      DefaultPictureName(DriveName(*driveOptimizer), today.wYear, today.wMonth, today.wDay, ".bmp");
  char path[MAX_PATH] = {};
  offered.copy(path, sizeof path - 1);
  WORD nameOffset = 0;
  if (!AskSavePath(window, "Pictures (*.bmp)\0*.bmp\0", nullptr, OFN_OVERWRITEPROMPT, path,
                   &nameOffset)) {
    return;
  }
  const std::string unsaved = SaveMapPicture(path);
  if (!unsaved.empty()) Say(unsaved, "Save picture");
}

std::string TFragmentView::SaveMapPicture(const std::string& path) {
  const std::string named = WithPictureExtension(path, ".bmp");
  const TRect area = CellArea();
  if (logic.Dirty()) logic.ComputeCells(area.width, area.height);
  const std::string unsaved = SaveDrawnPicture(
      area.width, area.height, [&](HDC dc) { DrawMap(dc, area.width, area.height); },
      driveOptimizer->services, named.c_str());
  return unsaved.empty() ? unsaved : named + " could not be saved: " + unsaved;
}

LRESULT CALLBACK FragmentViewClassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_CREATE) return DefWindowProcA(window, message, wParam, lParam);
  auto* view =
      static_cast<TFragmentView*>(reinterpret_cast<const CREATESTRUCTA*>(lParam)->lpCreateParams);
  if (view == nullptr) return DefWindowProcA(window, message, wParam, lParam);
  // The object first: the entry finds it there from the next message on.
  SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(view));
  SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(view->messageEntry));
  view->window = window;
  // The size as finally placed reaches the view even where the platform
  // sends none of its own after creation.
  PostMessageA(window, WM_SIZE, 0, 0);
  return 0;
}
