#pragma once

#include "model/item.h"
#include "platform/output_set.h"
#include "platform/system_services.h"

// Writes a chain of free extents, one line each: first cluster, the cluster
// after the extent, and its length, tab-separated, to a log handed to output
// (which is told why, when it cannot be written).
void WriteFreeExtentLog(TSystemServices& services, const TFragment* extents, const char* fileName,
                        TOutputSet& output);
