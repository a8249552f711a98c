// libntfs-3g's headers for the NTFS part of the Linux services, included the
// one way they compile from C++: what they use without including first, then
// in an extern "C" block, then without the min and max macros they define.
// Only .cpp files include this; headers forward-declare what they name.
#pragma once

#include <sys/stat.h>

#include <cstdarg>
#include <cstddef>
#include <ctime>

extern "C" {
#include <ntfs-3g/attrib.h>
#include <ntfs-3g/bitmap.h>
#include <ntfs-3g/device.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/layout.h>
#include <ntfs-3g/lcnalloc.h>
#include <ntfs-3g/mft.h>
#include <ntfs-3g/runlist.h>
#include <ntfs-3g/types.h>
#include <ntfs-3g/unistr.h>
#include <ntfs-3g/volume.h>
}

#undef min
#undef max
