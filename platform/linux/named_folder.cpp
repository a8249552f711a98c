#include "platform/linux/named_folder.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

std::string MakeNamedFolder(const std::string& folder) {
  if (mkdir(folder.c_str(), 0777) == 0) return std::string();
  const int error = errno;
  struct stat status;
  if (error == EEXIST && stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
    return std::string();
  }
  if (error == EEXIST) return folder + ": something other than a folder is there";
  return folder + ": " + std::strerror(error);
}
