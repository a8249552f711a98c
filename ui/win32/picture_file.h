// A window's picture saved as a BMP file (the map's "Save picture..."),
// written through the services' replacement files: a new file renamed into
// place when complete, so a failed write leaves an older picture whole.
#pragma once

#include <windows.h>

#include "platform/system_services.h"

// What window shows now, as a 32-bit top-down BMP at path; false when it
// could not be captured or written.
bool SaveWindowPicture(HWND window, TSystemServices& services, const char* path);
