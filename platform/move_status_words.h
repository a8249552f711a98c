// Words for the statuses that a move request (FSCTL_MOVE_FILE) is refused
// with, alike on every platform, so a user is told why a file stayed where it
// was in the same words whichever services refused.
#pragma once

#include <string>

#include "platform/nt_types.h"

// What status means when a move request is refused, with the cure where one
// is known; empty for a status these words do not cover (the platform's own
// words then tell).
std::string MoveStatusWords(TNtStatus status);
