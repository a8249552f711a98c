// A window's picture saved as a BMP file (the map's "Save picture..."),
// written through the services' replacement files: a new file renamed into
// place when complete, so a failed write leaves an older picture whole.
#pragma once

#include <windows.h>

#include <string>

#include "platform/system_services.h"

// What window shows now, as a 32-bit top-down BMP at path. Empty when
// saved, otherwise why not, in the system's words.
std::string SaveWindowPicture(HWND window, TSystemServices& services, const char* path);
