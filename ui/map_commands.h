// What the map's context menu and keys offer, free of any window system:
// both shells build their menu from kMapMenu and map their keys to the same
// commands.
#pragma once

#include <cstddef>

#include "ui/fragment_view_logic.h"

enum class TMapCommand {
  kSummary = 1,  // the summary in a message box
  kLegend,       // the colours of the current view in a message box
  kZoomIn,       // half the clusters per cell
  kZoomOut,      // twice the clusters per cell
  kTogglePlan,   // the volume now / after the volume-aware plan
  kExportJson,   // the JSON export into a folder the user picks
  kSavePicture,  // the map as a PNG (Qt) or BMP (Win32) file the user picks
  kClearSelection,
};

struct TMapMenuItem {
  TMapCommand command;
  const char* label;  // with the shortcut after a tab, as menus show it
};

// The context menu, in order.
constexpr TMapMenuItem kMapMenu[] = {
    {TMapCommand::kSummary, "Summary...\tS"},       {TMapCommand::kLegend, "Legend...\tL"},
    {TMapCommand::kZoomIn, "Zoom in\t+"},           {TMapCommand::kZoomOut, "Zoom out\t-"},
    {TMapCommand::kTogglePlan, "Show plan\tP"},     {TMapCommand::kExportJson, "Export JSON..."},
    {TMapCommand::kSavePicture, "Save picture..."},
};
constexpr size_t kMapMenuItems = sizeof kMapMenu / sizeof kMapMenu[0];

// The command of a key as its character (upper or lower case letters, '+',
// '=', '-', and 27 for Escape); none (0) for any other.
TMapCommand MapCommandForKey(int character);

// The keys that scroll the map, as either shell names them.
enum class TMapScrollKey { kOther, kUp, kDown, kPageUp, kPageDown, kHome, kEnd };

// The scroll request of a key: a line, a page, the volume's start or end, as
// the scroll bar's own arrows, track and ends scroll; kStay for any other.
TScrollRequest ScrollRequestForKey(TMapScrollKey key);
