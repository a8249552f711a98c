// The fragment view's window class, registered once by the process entry
// before any drive window exists.
#pragma once

constexpr char kFragmentViewClassName[] = "TFragmentView";

// RegisterClassExA of the class; false when the platform refuses it.
bool RegisterWin32FragmentViewClass();
