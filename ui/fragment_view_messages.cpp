#include "ui/fragment_view_messages.h"

TFragmentViewAction FragmentViewActionFor(unsigned message) {
  switch (message) {
    case kWmDestroy:
      return TFragmentViewAction::kForgetWindow;
    case kWmSize:
      return TFragmentViewAction::kSize;
    case kWmPaint:
      return TFragmentViewAction::kPaint;
    case kWmVScroll:
      return TFragmentViewAction::kScroll;
    case kWmLButtonDown:
      return TFragmentViewAction::kSelect;
    case kWmLButtonUp:
      return TFragmentViewAction::kIgnore;
    case kWmMouseMove:
      return TFragmentViewAction::kHover;
    case kWmContextMenu:
      return TFragmentViewAction::kContextMenu;
    case kWmKeyDown:
      return TFragmentViewAction::kKey;
    case kWmChar:
      return TFragmentViewAction::kCharacter;
    case kWmMouseWheel:
      return TFragmentViewAction::kWheel;
    case kWmCommand:
      return TFragmentViewAction::kCommand;
    default:
      return TFragmentViewAction::kDefault;
  }
}
