#include "ui/qt/snapshot_file.h"

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/linux/host_replacement_file.h"

std::string SavePicture(const QPixmap& picture, const QString& path) {
  // Encoded in memory first: Qt's own file writing would open the name itself.
  QByteArray bytes;
  QBuffer buffer(&bytes);
  if (!buffer.open(QIODevice::WriteOnly) || !picture.save(&buffer, "PNG")) {
    return "the picture could not be encoded as PNG";
  }
  std::string reason;
  const std::unique_ptr<THostReplacementFile> file = THostReplacementFile::Create(
      THostPath{AT_FDCWD, QFile::encodeName(path).toStdString()}, &reason);
  if (file == nullptr) return QFile::encodeName(path).toStdString() + ": " + reason;
  const size_t length = static_cast<size_t>(bytes.size());
  errno = 0;
  const int writeError = std::fwrite(bytes.constData(), 1, length, file->Stream()) == length ? 0
                         : errno != 0                                                        ? errno
                                                                                             : EIO;
  return file->Commit(writeError) ? std::string() : file->FailureText();
}
