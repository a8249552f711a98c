// The files this program writes on host file systems (logs, pictures):
// created beside their name with O_CREAT | O_EXCL | O_NOFOLLOW and renamed
// over it when complete (replacement_file.h). The program usually runs as
// root and writes fixed names in shared folders, so nothing planted at a
// name, a symbolic or a hard link, is ever written through.
#pragma once

#include <memory>
#include <string>

#include "platform/linux/host_paths.h"
#include "platform/replacement_file.h"

class THostReplacementFile : public TReplacementFile {
 public:
  // A new file, mode 0644 before the umask, in the folder of path, to be
  // renamed over path's name. None when the folder cannot be opened (also
  // when it lies outside path's root), no new file can be made in it, or
  // the name holds something other than a regular file or a link (a
  // folder, device, pipe or socket), which is never replaced; *reason then
  // says why, in the system's words (the caller names the path).
  static std::unique_ptr<THostReplacementFile> Create(const THostPath& path, std::string* reason);

  ~THostReplacementFile() override;

 private:
  THostReplacementFile(FILE* stream, int folderFd, std::string newName, std::string name);

  bool Rename() override;
  void RemoveNew() override;

  int folderFd_;         // owned, O_PATH: the folder both names are in
  std::string newName_;  // the new file's name in that folder
  std::string name_;     // the name it replaces
};
