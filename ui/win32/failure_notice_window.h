// Where a drive that could not be analysed has no map, the drive window
// shows in the map's place why and what to do (ui/failure_notice): a child
// of its own, sunken as the map is, on the colour of a page, the notice's
// lines centred in it. The notice is the child's window text, so anyone can
// read it back; the drive window draws it (WM_DRAWITEM).
#pragma once

#include <windows.h>

#include <string>

// A visible owner-drawn child of parent holding text, placed by the
// parent's next layout; none when the platform refuses it.
HWND CreateFailureNoticeWindow(HWND parent, const std::string& text);

// Draws the notice of item (a WM_DRAWITEM for a window made above): the
// page colour, then its text in the GUI font, word-wrapped, centred both
// ways within a margin; never a mnemonic, since reasons hold paths.
void DrawFailureNotice(const DRAWITEMSTRUCT& item);
