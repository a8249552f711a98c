#pragma once

#include "model/item.h"
#include "platform/system_services.h"

// Writes a chain of free extents, one line each: first cluster, the cluster
// after the extent, and its length, tab-separated. A file that cannot be
// opened is skipped in silence.
void WriteFreeExtentLog(TSystemServices& services, const TFragment* extents, const char* fileName);
