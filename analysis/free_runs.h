// The free runs of one volume bitmap reply, or of a volume's free stretches
// where the services hold them as extents, free of any I/O: the free-space
// map asks for the bitmap reply by reply and hands each one here, or hands
// over the stretches at once.
#pragma once

#include <cstdint>

#include "model/fragment_chain.h"
#include "platform/system_services.h"

// Clusters that a bitmap reply describes: its bitmapSize, held to the bits of
// a reply buffer of bufferBytes, and, when the status block reported the
// reply's length (replyBytes between the 16-byte header and bufferBytes), to
// the bits it returned. The bytes after a short reply are left from an
// earlier reply and are never read.
int64_t ClustersInBitmapReply(int64_t bitmapSize, uintptr_t replyBytes, uint32_t bufferBytes);

// Appends to list a free extent (a fragment with no owner, vcn 0) for each
// maximal run of clear bits among the count clusters that bits describes from
// startLcn (bit i, least significant first, is cluster startLcn + i; set =
// in use). Clusters below scannedTo were scanned with an earlier reply and
// count as in use, so no run is listed twice; a run never continues into the
// next reply. Extents the fragment pool cannot give are left out. Returns
// the new scannedTo: the larger of scannedTo and startLcn + count.
int64_t AppendFreeRuns(const uint8_t* bits, int64_t startLcn, int64_t count, int64_t scannedTo,
                       TFragmentChain* list);

// Appends to list a free extent for each free stretch of space, cut where
// the replies of replyClusters clusters each (the first at cluster 0) end
// and at the volume's end, with stretches that touch joined: the very
// extents, in the same order, that AppendFreeRuns lists from those replies
// of the same volume. Extents the fragment pool cannot give are left out.
void AppendFreeStretches(const TFreeSpaceExtents& space, int64_t replyClusters,
                         TFragmentChain* list);
