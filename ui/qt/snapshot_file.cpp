#include "ui/qt/snapshot_file.h"

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <cstdio>

#include "platform/linux/host_replacement_file.h"

bool SavePicture(const QPixmap& picture, const QString& path) {
  // Encoded in memory first: Qt's own file writing would open the name itself.
  QByteArray bytes;
  QBuffer buffer(&bytes);
  if (!buffer.open(QIODevice::WriteOnly) || !picture.save(&buffer, "PNG")) return false;
  const std::unique_ptr<THostReplacementFile> file =
      THostReplacementFile::Create(THostPath{AT_FDCWD, QFile::encodeName(path).toStdString()});
  if (file == nullptr) return false;
  const size_t length = static_cast<size_t>(bytes.size());
  const bool written = std::fwrite(bytes.constData(), 1, length, file->Stream()) == length;
  return file->Commit(written);
}
