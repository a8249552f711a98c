#include "platform/move_status_words.h"

std::string MoveStatusWords(TNtStatus status) {
  switch (status) {
    case kStatusAlreadyCommitted:
      // The free-space map is a snapshot: another file may take a target
      // between reading it and moving.
      return "the target clusters are in use: something took them after the free space was read";
    case kStatusNotSupported:
      return "the file system of this volume does not move clusters (the request is not "
             "supported)";
    case kStatusAccessDenied:
      return "access is denied: moving files needs administrator rights; run diskopt as "
             "administrator";
    case kStatusInvalidParameter:
      return "the file system refused the move: the clusters asked for are not all the file's, "
             "lie past the end of the volume, or belong to a stream that cannot be moved";
    case kStatusInvalidHandle:
      return "the file or the volume is not open for moves";
    case kStatusFileDeleted:
      return "the file was deleted while it was open for moves";
    default:
      return std::string();
  }
}
