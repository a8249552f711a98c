#include "ui/map_commands.h"

TMapCommand MapCommandForKey(int character) {
  switch (character) {
    case '+':
    case '=':  // '+' without the shift key on most layouts
      return TMapCommand::kZoomIn;
    case '-':
      return TMapCommand::kZoomOut;
    case 'p':
    case 'P':
      return TMapCommand::kTogglePlan;
    case 's':
    case 'S':
      return TMapCommand::kSummary;
    case 'l':
    case 'L':
      return TMapCommand::kLegend;
    case 27:
      return TMapCommand::kClearSelection;
    default:
      return static_cast<TMapCommand>(0);
  }
}

TScrollRequest ScrollRequestForKey(TMapScrollKey key) {
  switch (key) {
    case TMapScrollKey::kUp:
      return TScrollRequest::kLineUp;
    case TMapScrollKey::kDown:
      return TScrollRequest::kLineDown;
    case TMapScrollKey::kPageUp:
      return TScrollRequest::kPageUp;
    case TMapScrollKey::kPageDown:
      return TScrollRequest::kPageDown;
    case TMapScrollKey::kHome:
      return TScrollRequest::kTop;
    case TMapScrollKey::kEnd:
      return TScrollRequest::kBottom;
    case TMapScrollKey::kOther:
      break;
  }
  return TScrollRequest::kStay;
}
