#include "ui/win32/failure_notice_window.h"

#include "ui/win32/drawing_resources.h"

namespace {

// Between the frame and the text, pixels.
constexpr int kNoticeMargin = 24;
constexpr UINT kNoticeTextFormat = DT_CENTER | DT_WORDBREAK | DT_NOPREFIX;

}  // namespace

HWND CreateFailureNoticeWindow(HWND parent, const std::string& text) {
  return CreateWindowExA(WS_EX_CLIENTEDGE, "STATIC", text.c_str(),
                         WS_CHILD | WS_VISIBLE | SS_OWNERDRAW, 0, 0, 0, 0, parent, nullptr,
                         GetModuleHandleA(nullptr), nullptr);
}

void DrawFailureNotice(const DRAWITEMSTRUCT& item) {
  HDC dc = item.hDC;
  FillRect(dc, &item.rcItem, GetSysColorBrush(COLOR_WINDOW));
  const int length = GetWindowTextLengthA(item.hwndItem);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  GetWindowTextA(item.hwndItem, &text[0], length + 1);
  text.resize(static_cast<size_t>(length));
  RECT area = item.rcItem;
  InflateRect(&area, -kNoticeMargin, -kNoticeMargin);
  if (area.right <= area.left || area.bottom <= area.top) return;
  const HGDIOBJ previousFont = SelectObject(dc, guiFont);
  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  SetBkMode(dc, TRANSPARENT);
  // The text's height at this width, to centre it; from the top where it
  // is taller than the area.
  RECT measured = area;
  DrawTextA(dc, text.c_str(), length, &measured, kNoticeTextFormat | DT_CALCRECT);
  const int spare = (area.bottom - area.top) - (measured.bottom - measured.top);
  if (spare > 0) area.top += spare / 2;
  DrawTextA(dc, text.c_str(), length, &area, kNoticeTextFormat);
  SelectObject(dc, previousFont);
}
