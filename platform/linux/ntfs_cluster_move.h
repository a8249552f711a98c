// The arithmetic of moving clusters of a stream, apart from the volume:
// which pieces of the volume a range of a stream's clusters lies in, and
// the stream's runs once the range lies at its target.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/linux/fs_control_replies.h"

// Whether a range of a stream's clusters may move.
enum class TMoveRange {
  kAllocated,  // every cluster of it lies on the volume
  kHole,       // some cluster of it has none (a sparse stretch)
  kPastEnd,    // it reaches past the stream's last cluster
};

// The clusters [vcn, vcn + count) of the stream whose runs are `runs`
// (contiguous from VCN 0; lcn negative for a hole), and when they are all
// allocated the volume's pieces holding them, in VCN order, into *pieces
// (vcn, lcn and length of each). count > 0 and vcn >= 0.
TMoveRange StreamRange(const std::vector<TStreamRun>& runs, int64_t vcn, int64_t count,
                       std::vector<TStreamRun>* pieces);

// The runs of the stream once its clusters [vcn, vcn + count), all
// allocated, lie from lcn on: merged where one continues the last, as
// mapping pairs are best written.
std::vector<TStreamRun> MovedRuns(const std::vector<TStreamRun>& runs, int64_t vcn, int64_t count,
                                  int64_t lcn);

// The first cluster of [lcn, lcn + count) set in the bitmap bytes `bits`,
// whose first byte describes cluster bitsLcn (a multiple of 8) and which
// cover the range; -1 when every one is clear (free).
int64_t FirstUsedCluster(const uint8_t* bits, int64_t bitsLcn, int64_t lcn, int64_t count);
