#include "platform/linux/cached_read.h"

#include <sys/uio.h>

#include <cerrno>

ssize_t ReadCachedPart(int fd, void* out, size_t bytes, off_t offset) {
  iovec into{out, bytes};
  const ssize_t got = preadv2(fd, &into, 1, offset, RWF_NOWAIT);
  if (got >= 0) return got;
  // EAGAIN: nothing of it is cached; EINTR: read it the usual way.
  return errno == EAGAIN || errno == EINTR ? 0 : -1;
}
