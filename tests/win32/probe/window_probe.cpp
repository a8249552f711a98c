// Reads another process's drive window the way a person would look at it:
// waits until the top-level window with the exact title given shows the
// expected text in its stage label (a child of class "Static"; a failed
// drive's notice is another) and has no
// fragment view (child of class "TFragmentView"). xdotool cannot see child
// windows, which Wine draws inside their top-level X window.
//
// Usage: window_probe <title> <expected label text> <seconds>
// Exit code 0 when the window shows the text with no fragment view within
// the time; 1 otherwise, with what it last showed on standard error.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct TChildren {
  std::string expected;  // the text looked for
  std::string label;     // text of the "Static" child that shows it, else of the last found
  bool hasLabel = false;
  bool hasFragmentView = false;
};

BOOL CALLBACK Inspect(HWND child, LPARAM found) {
  auto& children = *reinterpret_cast<TChildren*>(found);
  char className[64] = {};
  GetClassNameA(child, className, sizeof className);
  if (std::strcmp(className, "TFragmentView") == 0) children.hasFragmentView = true;
  if (std::strcmp(className, "Static") == 0) {
    // The label's text is the window's own text, which Windows (and Wine's
    // server) hands out to other processes as well.
    char text[1000] = {};
    GetWindowTextA(child, text, sizeof text);
    if (!children.hasLabel || children.label != children.expected) children.label = text;
    children.hasLabel = true;
  }
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: window_probe <title> <expected label text> <seconds>\n");
    return 1;
  }
  const char* title = argv[1];
  const std::string expected = argv[2];
  const DWORD limit = static_cast<DWORD>(std::atoi(argv[3])) * 1000;
  const DWORD start = GetTickCount();
  TChildren children;
  bool windowFound = false;
  do {
    HWND window = FindWindowA(nullptr, title);
    if (window != nullptr) {
      windowFound = true;
      children = TChildren();
      children.expected = expected;
      EnumChildWindows(window, Inspect, reinterpret_cast<LPARAM>(&children));
      if (children.hasLabel && children.label == expected && !children.hasFragmentView) {
        std::printf("\"%s\" shows \"%s\" and no fragment view\n", title, expected.c_str());
        return 0;
      }
    }
    Sleep(100);
  } while (GetTickCount() - start < limit);
  if (!windowFound) {
    std::fprintf(stderr, "no window titled \"%s\"\n", title);
  } else {
    std::fprintf(stderr, "\"%s\" shows \"%s\"%s after %s s\n", title, children.label.c_str(),
                 children.hasFragmentView ? " and a fragment view" : "", argv[3]);
  }
  return 1;
}
