// Window pictures saved as PNG files (DISKOPT_SNAPSHOT): written to a new
// file beside the name and renamed over it when complete, so a link planted
// at the name is never written through and a failed write leaves the old
// picture whole.
#pragma once

#include <QPixmap>
#include <QString>
#include <string>

// Saves picture as a PNG file at path (a host path of its own, relative to
// the working directory or absolute). Empty when saved, otherwise why not,
// in the system's words.
std::string SavePicture(const QPixmap& picture, const QString& path);
