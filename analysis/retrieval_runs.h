// The runs of one retrieval pointers reply, free of any I/O: fragment
// retrieval asks for an item's runs reply by reply and hands each one here.
#pragma once

#include <cstdint>

#include "model/fragment_chain.h"

// What one reply held.
struct TRetrievalReply {
  int64_t startingVcn;  // the reply's StartingVcn: the first VCN of its first run
  int64_t nextVcn;      // the VCN after its last run; startingVcn when it held none
  uint32_t extents;     // extents read: its ExtentCount, held to what the buffer holds
};

// Decodes a RETRIEVAL_POINTERS_BUFFER of bufferBytes (at least its 16-byte
// header) and appends a run {vcn, lcn, length} per extent to runs, owned by
// owner; runs the fragment pool cannot give are left out, the VCNs after them
// stay right. A count beyond what the buffer holds is a broken reply: only
// the extents that fit are read.
TRetrievalReply AppendRetrievalRuns(const unsigned char* reply, uint32_t bufferBytes, TItem* owner,
                                    TFragmentChain* runs);
