// The files this program writes on Windows (the logs): created beside their
// name with CreateFileA(CREATE_NEW) and moved over it with MoveFileExA when
// complete (replacement_file.h), so a link at the name is never written
// through and a failed write leaves the old file whole.
#pragma once

#include <memory>
#include <string>

#include "platform/replacement_file.h"

class TWin32ReplacementFile : public TReplacementFile {
 public:
  // A new file in the folder of path, to be moved over path; none when no
  // new file can be made there.
  static std::unique_ptr<TWin32ReplacementFile> Create(const char* path);

  ~TWin32ReplacementFile() override;

 private:
  TWin32ReplacementFile(FILE* stream, std::string newPath, std::string path);

  bool Rename() override;
  void RemoveNew() override;

  std::string newPath_;  // the new file, beside path_
  std::string path_;     // the name it replaces
};
