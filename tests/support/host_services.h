// The real system services of the platform the tests run on, and a folder
// of the host's own file system that a test fills and that goes when the
// test ends.
#pragma once

#include <memory>
#include <string>

#include "platform/system_services.h"

std::unique_ptr<TSystemServices> MakeHostServices();

class THostFolder {
 public:
  THostFolder();
  ~THostFolder();
  THostFolder(const THostFolder&) = delete;
  THostFolder& operator=(const THostFolder&) = delete;

  // The folder as the services take it, with a trailing separator.
  const std::string& Path() const { return path; }
  // Makes a folder or a file (of size bytes) below it; relative names use "/".
  void MakeFolder(const std::string& relative) const;
  void MakeFile(const std::string& relative, size_t size = 0) const;
  // Makes a link to a folder; false where the platform refuses links.
  bool MakeFolderLink(const std::string& relative, const std::string& target) const;

 private:
  std::string path;
};
