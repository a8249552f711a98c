#include "platform/linux/ntfs_move_access.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/linux/failure_text.h"
#include "platform/linux/ntfs_library.h"

namespace {

// The text of a small file of /proc or /sys; empty when it cannot be read.
std::string SmallFileText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Whether path leads to the file whose status is `image`: the same block
// device, or the same file.
bool SameFile(const std::string& path, const struct stat& image) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0) return false;
  if (S_ISBLK(image.st_mode)) return S_ISBLK(status.st_mode) && status.st_rdev == image.st_rdev;
  return status.st_dev == image.st_dev && status.st_ino == image.st_ino;
}

// Where the image is mounted, by this process's mount table (a kernel mount
// of a block device, a FUSE mount of an image file); empty when nowhere.
std::string MountPointOf(const struct stat& image) {
  std::ifstream table("/proc/self/mountinfo");
  std::string line;
  while (std::getline(table, line)) {
    std::string mountPoint;
    std::string source;
    if (MountInfoEntry(line, &mountPoint, &source) && source.find('/') != std::string::npos &&
        SameFile(source, image)) {
      return mountPoint;
    }
  }
  return std::string();
}

// The loop device (/dev/loopN) whose backing file is the image; empty when
// none is.
std::string LoopDeviceOver(const struct stat& image) {
  DIR* devices = opendir("/sys/block");
  if (devices == nullptr) return std::string();
  std::string found;
  while (const dirent* entry = readdir(devices)) {
    if (std::strncmp(entry->d_name, "loop", 4) != 0) continue;
    std::string backing =
        SmallFileText(std::string("/sys/block/") + entry->d_name + "/loop/backing_file");
    while (!backing.empty() && backing.back() == '\n') backing.pop_back();
    if (!backing.empty() && SameFile(backing, image)) {
      found = std::string("/dev/") + entry->d_name;
      break;
    }
  }
  closedir(devices);
  return found;
}

bool AllDigits(const char* name) {
  if (*name == '\0') return false;
  for (; *name != '\0'; ++name) {
    if (*name < '0' || *name > '9') return false;
  }
  return true;
}

// Another process, or another descriptor of this one than `own`, that
// holds the image open for writing: "process <pid> (<command>)"; empty
// when there is none (or /proc cannot tell).
std::string OtherWriter(const struct stat& image, int own) {
  DIR* processes = opendir("/proc");
  if (processes == nullptr) return std::string();
  const std::string self = std::to_string(getpid());
  std::string found;
  while (found.empty()) {
    const dirent* process = readdir(processes);
    if (process == nullptr) break;
    if (!AllDigits(process->d_name)) continue;
    const std::string base = std::string("/proc/") + process->d_name;
    DIR* descriptors = opendir((base + "/fd").c_str());
    if (descriptors == nullptr) continue;
    while (const dirent* descriptor = readdir(descriptors)) {
      if (!AllDigits(descriptor->d_name)) continue;
      if (process->d_name == self && std::atoi(descriptor->d_name) == own) continue;
      if (!SameFile(base + "/fd/" + descriptor->d_name, image)) continue;
      if (!FdInfoWrites(SmallFileText(base + "/fdinfo/" + descriptor->d_name))) continue;
      std::string command = SmallFileText(base + "/comm");
      while (!command.empty() && command.back() == '\n') command.pop_back();
      found = std::string("process ") + process->d_name + " (" + command + ")";
      break;
    }
    closedir(descriptors);
  }
  closedir(processes);
  return found;
}

// Why open(2) for writing failed, with the cure.
std::string OpenFailureText(const std::string& imagePath, int error) {
  if (error == EROFS) {
    return imagePath +
           " lies on a read-only file system, and moving clusters writes it: remount that file "
           "system read-write or copy the image to a writable one";
  }
  if (error == EACCES || error == EPERM) {
    return imagePath +
           " cannot be opened for writing (permission denied), and moving clusters writes it: "
           "make it writable or run diskopt as root";
  }
  if (error == EBUSY) {
    return imagePath +
           " is in use (mounted, or held by another program): unmount it and close the program, "
           "then try again";
  }
  return SystemErrorText(imagePath, error) + " (opening it for writing, to move clusters)";
}

}  // namespace

bool MountInfoEntry(const std::string& line, std::string* mountPoint, std::string* source) {
  // "id parent major:minor root mount-point options [optional...] - type
  // source super-options"; fields are separated by single blanks, blanks
  // inside them written as \040.
  std::istringstream fields(line);
  std::string field;
  std::string point;
  for (int i = 0; i < 5; ++i) {
    if (!(fields >> field)) return false;
    if (i == 4) point = field;
  }
  while (fields >> field && field != "-") {
  }
  std::string type;
  std::string from;
  if (field != "-" || !(fields >> type >> from)) return false;
  const auto unescape = [](const std::string& text) {
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i) {
      const bool escape = text[i] == '\\' && i + 3 < text.size() && text[i + 1] >= '0' &&
                          text[i + 1] <= '3' && text[i + 2] >= '0' && text[i + 2] <= '7' &&
                          text[i + 3] >= '0' && text[i + 3] <= '7';
      if (escape) {
        plain.push_back(static_cast<char>(std::strtol(text.substr(i + 1, 3).c_str(), nullptr, 8)));
        i += 3;
      } else {
        plain.push_back(text[i]);
      }
    }
    return plain;
  };
  *mountPoint = unescape(point);
  *source = unescape(from);
  return true;
}

bool FdInfoWrites(const std::string& fdInfo) {
  const size_t at = fdInfo.find("flags:");
  if (at == std::string::npos) return false;
  const long flags = std::strtol(fdInfo.c_str() + at + 6, nullptr, 8);
  return (flags & O_ACCMODE) != O_RDONLY;
}

int OpenImageForMoves(const std::string& imagePath, std::string* reason) {
  struct stat status;
  if (stat(imagePath.c_str(), &status) != 0) {
    *reason = SystemErrorText(imagePath, errno);
    return -1;
  }
  if (!S_ISREG(status.st_mode) && !S_ISBLK(status.st_mode)) {
    *reason = imagePath + ": not an NTFS image or block device";
    return -1;
  }
  // Mounts and loop devices first: they explain an EBUSY of the open.
  const std::string mountPoint = MountPointOf(status);
  if (!mountPoint.empty()) {
    *reason = imagePath + " is mounted at " + mountPoint +
              ", and moving clusters under a mounted file system would damage it: unmount it "
              "(umount " +
              mountPoint + "), then try again";
    return -1;
  }
  unsigned long mountFlags = 0;
  if (ntfs_check_if_mounted(imagePath.c_str(), &mountFlags) == 0 &&
      (mountFlags & NTFS_MF_MOUNTED) != 0) {
    *reason = imagePath + " is mounted: unmount it, then try again";
    return -1;
  }
  const std::string loop = LoopDeviceOver(status);
  if (!loop.empty()) {
    *reason = imagePath + " is attached to the loop device " + loop +
              ", through which it may be mounted or written: unmount what is mounted from it and "
              "detach it (losetup -d " +
              loop + "), then try again";
    return -1;
  }
  const int flags = O_RDWR | O_CLOEXEC | O_NOCTTY | (S_ISBLK(status.st_mode) ? O_EXCL : 0);
  const int fd = open(imagePath.c_str(), flags);
  if (fd < 0) {
    *reason = OpenFailureText(imagePath, errno);
    return -1;
  }
  const auto refuse = [fd, reason](std::string why) {
    close(fd);
    *reason = std::move(why);
    return -1;
  };
  int readOnly = 0;
  if (S_ISBLK(status.st_mode) && ioctl(fd, BLKROGET, &readOnly) == 0 && readOnly != 0) {
    return refuse(imagePath +
                  " is a read-only device, and moving clusters writes it: make it writable "
                  "(blockdev --setrw " +
                  imagePath + "), then try again");
  }
  // flock locks belong to the open file description: a second open of the
  // image for moves, in this process or another, is refused here.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) {
      return refuse(imagePath +
                    " is already open for moving clusters (by this or another diskopt): wait "
                    "until that run ends, then try again");
    }
    return refuse(SystemErrorText(imagePath, errno) + " (locking it for moves)");
  }
  const std::string writer = OtherWriter(status, fd);
  if (!writer.empty()) {
    return refuse(imagePath + " is open for writing by " + writer +
                  ", and two writers would damage the volume: close that program, then try "
                  "again");
  }
  return fd;
}
