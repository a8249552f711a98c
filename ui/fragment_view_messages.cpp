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
    case kWmLButtonUp:
      return TFragmentViewAction::kIgnore;
    default:
      return TFragmentViewAction::kDefault;
  }
}
