#include "ui/win32/fragment_view.h"

#include "ui/win32/drawing_resources.h"
#include "ui/win32/fragment_view_class.h"

static_assert(kWmDestroy == WM_DESTROY && kWmVScroll == WM_VSCROLL &&
                  kWmLButtonDown == WM_LBUTTONDOWN && kWmLButtonUp == WM_LBUTTONUP,
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

// The procedure every bound view window has: the view sits in the window's
// user-data slot from WM_CREATE until the view is deleted.
LRESULT CALLBACK FragmentViewMessageEntry(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* view = reinterpret_cast<TFragmentView*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (view == nullptr) return DefWindowProcA(window, message, wParam, lParam);
  return view->HandleMessage(window, message, wParam, lParam);
}

HBRUSH BrushOf(TCellColour colour) {
  switch (colour) {
    case TCellColour::kFragmented:
      return fragmentedBrush;
    case TCellColour::kLastFragment:
      return lastFragmentBrush;
    case TCellColour::kEmpty:
      break;
  }
  return emptyCellBrush;
}

}  // namespace

TFragmentView::TFragmentView(const TClusterMap* map, TDriveOptimizer* optimizer)
    : window(nullptr),
      messageEntry(FragmentViewMessageEntry),
      clusterMap(map),
      driveOptimizer(optimizer),
      logic(map) {}

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
    case TFragmentViewAction::kDefault:
      break;
  }
  // The parameter, not window: WM_NCDESTROY still arrives after WM_DESTROY.
  return DefWindowProcA(target, message, wParam, lParam);
}

void TFragmentView::OnSize() {
  RECT client;
  GetClientRect(window, &client);
  logic.OnSize(client.right, client.bottom);
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

void TFragmentView::OnVScroll(int request) {
  SCROLLINFO scroll = {};
  scroll.cbSize = sizeof scroll;
  scroll.fMask = SIF_ALL;
  GetScrollInfo(window, SB_VERT, &scroll);
  // The position as the platform keeps it: SetScrollInfo holds it to
  // nMax - nPage + 1, while the logic may have gone to nMax.
  const TScrollBarState state = {scroll.nPos, scroll.nMax, scroll.nTrackPos};
  scroll.nPos = logic.OnVScroll(ScrollRequestOf(request), state);
  scroll.fMask = SIF_ALL;
  SetScrollInfo(window, SB_VERT, &scroll, TRUE);
  InvalidateRect(window, nullptr, FALSE);
}

void TFragmentView::OnPaint() {
  RECT client;
  GetClientRect(window, &client);
  if (logic.Dirty()) logic.ComputeCells(client.right, client.bottom);

  PAINTSTRUCT paint;
  HDC screen = BeginPaint(window, &paint);
  const int width = client.right;
  const int height = client.bottom;
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP picture = CreateCompatibleBitmap(screen, width, height);
  // Out of GDI resources nothing is drawn; the next paint tries again.
  if (memory != nullptr && picture != nullptr) {
    HGDIOBJ previous = SelectObject(memory, picture);
    FillRect(memory, &client, viewBackgroundBrush);
    if (logic.Cells() != nullptr) {
      for (int i = 0; i < logic.CellCount(); ++i) {
        const TRect cell = logic.CellRect(i);
        // Right and bottom exclusive: neighbouring cells touch without a gap.
        const RECT r = {cell.x, cell.y, cell.x + cell.width, cell.y + cell.height};
        FillRect(memory, &r, BrushOf(logic.CellColour(i)));
      }
    }
    BitBlt(screen, 0, 0, width, height, memory, 0, 0, SRCCOPY);
    SelectObject(memory, previous);
  }
  if (memory != nullptr) DeleteDC(memory);
  if (picture != nullptr) DeleteObject(picture);
  EndPaint(window, &paint);
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
  return view;
}

void ReleaseFragmentView(TFragmentView* view) { delete view; }

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
