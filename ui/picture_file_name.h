// Names for the pictures of the map a user saves ("Save picture..."): the
// name offered, and the extension added where the user left it out. Either
// shell passes its own extension (".png" on Linux, ".bmp" on Windows).
#pragma once

#include <string>

// The name offered for a picture of drive driveName (its letter, or the
// path it was named by) taken on year-month-day: "drive-D-2026-12-09.png",
// "disk.img-2026-12-09.png" for /srv/disk.img, "srv-2026-12-09.png" for
// /srv/. extension starts with its dot.
std::string DefaultPictureName(const std::string& driveName, int year, int month, int day,
                               const char* extension);

// path with extension appended unless its last component ends with it
// already (in any case): "map" and "map.jpg" get ".png", "map.PNG" stays.
std::string WithPictureExtension(const std::string& path, const char* extension);
