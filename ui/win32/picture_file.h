// A picture saved as a BMP file (the map's "Save picture..."),
// written through the services' replacement files: a new file renamed into
// place when complete, so a failed write leaves an older picture whole.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "platform/system_services.h"

// What draw paints into a device context of width x height pixels (drawn
// off screen, so what covers the window on the screen is never in it), as a
// 32-bit top-down BMP at path. Empty when saved, otherwise why not, in the
// system's words.
std::string SaveDrawnPicture(int width, int height, const std::function<void(HDC)>& draw,
                             TSystemServices& services, const char* path);
