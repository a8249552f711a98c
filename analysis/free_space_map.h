#pragma once

#include "model/item.h"
#include "platform/system_services.h"

// Writes a chain of free extents, one line each: first cluster, the cluster
// after the extent, and its length, tab-separated. False when the file cannot
// be opened (the services' LastErrorText says why).
bool WriteFreeExtentLog(TSystemServices& services, const TFragment* extents, const char* fileName);
