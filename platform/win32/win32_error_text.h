// The words Windows gives for an error code (FormatMessage), as every
// failure the Win32 build reports is worded.
#pragma once

#include <windows.h>

#include <string>

#include "platform/nt_types.h"

// The system's text for error, without its trailing line break, and the
// likely cure where one is known (administrator rights).
std::string Win32ErrorText(DWORD error);

// Why a move request (FSCTL_MOVE_FILE) was refused with status: this
// program's words where they are known, else the system's for dosError, the
// error code Windows turns the status into (which for some statuses says
// something else: a target taken meanwhile becomes ERROR_ACCESS_DENIED).
std::string Win32MoveRefusalText(TNtStatus status, DWORD dosError);
