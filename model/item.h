// Items (files and folders) and fragments (runs of clusters) of a drive's tree,
// and the operations that make, link and release them. Records come from the
// two process-wide pools of record_pool.h; nothing here allocates per record.
#pragma once

#include <cstdint>
#include <string>

struct TFragment;

// One file or folder. Children form a singly linked list in the order they
// were added (the directory enumeration's order).
struct TItem {
  // Own name (not a path), zero-terminated 8-bit text; the root's is "C:\"
  // style. Owned by the item: a copy from the name pool (CopyName) or from
  // the heap (malloc), which ReleaseItem gives back either way.
  char* name;
  TItem* parent;          // folder that holds the item; none for the root
  TItem* firstChild;      // none if the item has no children
  TItem* lastChild;       // none if the item has no children
  TItem* nextSibling;     // none for the last child
  int64_t size;           // bytes
  int64_t clusters;       // clusters the item spans: the VCN after its last run
  uint32_t flags;         // kItemFolder, zone in bits 1..4, kItemNoMove, kItemDamaged
  int32_t fragmentCount;  // runs read for the item
  TFragment* fragments;   // current runs in ascending vcn, chained by next
  TFragment* planned;     // planned runs, chained by next
  // The file's identity on its volume, the same under each of its names
  // (hard links): the MFT record number on NTFS, the inode on a host
  // folder; 0 while not known.
  uint64_t fileId;

  // Removes child from this folder's child list and returns the child's
  // former next sibling; returns none and changes nothing if child is not
  // among the children. The child's own parent and nextSibling stay as they
  // were.
  TItem* UnlinkChild(TItem* child);
  // The same, told the child's previous sibling (none for the first child):
  // no search, for callers that walk the children anyway. A previous that is
  // not the one before child is ignored and the child searched for.
  TItem* UnlinkChildAfter(TItem* previous, TItem* child);

  bool IsFolder() const { return (flags & 1u) != 0; }
  int Zone() const { return static_cast<int>((flags >> 1) & 15u); }
  // Replaces the zone bits, leaving every other flag as it was.
  void SetZone(int zone) { flags = (flags & ~0x1Eu) | (static_cast<uint32_t>(zone) << 1); }

  // Whether the extension of name (the text after its last '.') is one of
  // the program extensions, or one of the archive and media extensions,
  // compared without regard to ASCII case. Defined with the placement rules.
  bool HasProgramExtension() const;
  bool HasArchiveExtension() const;
};

constexpr uint32_t kItemFolder = 1;       // bit 0
constexpr uint32_t kItemZoneMask = 0x1E;  // bits 1..4: zone number << 1
constexpr uint32_t kItemNoMove = 32;      // bit 5: already where the plan puts it
constexpr uint32_t kItemDamaged = 64;     // bit 6: the volume contradicts itself about it

// The lcn of a run with no clusters on the volume: sparse, the unused tail
// of a compression unit, or data kept elsewhere (inline in its record).
// Windows reports these runs with Lcn -1.
constexpr int64_t kLcnNoClusters = -1;
// The lcn of a run whose data will take clusters the file system has not
// placed yet (delayed allocation), or whose place it cannot tell: neither
// free nor absent, but not on the map, not counted as allocated and not
// moved. Only host folders report it (FIEMAP's unknown or delayed extents).
constexpr int64_t kLcnNotPlaced = -2;

// One run of clusters: of an item's current or planned layout, or a free
// extent (no owner, vcn 0). All numbers are clusters, signed 64-bit.
struct TFragment {
  TItem* owner;  // not owned; none for a free extent
  int64_t vcn;   // first cluster of the run within its item
  // First cluster on the volume, from 0; negative for a run without one:
  // kLcnNotPlaced, or kLcnNoClusters (so is any other negative value).
  int64_t lcn;
  int64_t length;
  TFragment* next;     // next run of the same list
  TFragment* mapNext;  // next run in the cluster map's volume-order chain
};

// Creates an item with every field cleared, then name, parent, size and
// flags set; with a parent it is appended as the parent's last child.
// Returns none when the item pool has no record to give.
TItem* NewItem(TItem* parent, char* name, int64_t size, uint32_t flags);

// Creates an unlinked fragment (next and mapNext none), or returns none.
TFragment* NewFragment(TItem* owner, int64_t vcn, int64_t lcn, int64_t length);

// Returns item, its whole subtree and the current runs of each of them to
// the pools, and gives back their names (ReleaseName). The caller unlinks item from its parent
// first. Planned runs are not released (items are released before any plan
// exists, or with their drive at exit).
void ReleaseItem(TItem* item);

// Returns every fragment of the chain that starts at first (may be none).
void ReleaseFragments(TFragment* first);

// The listing path of an item: "" for the root, "\a\b" below it.
std::string ListingPath(const TItem* item);

// The item of root's tree at a listing path (\ the root, \docs\ a folder,
// \docs\a.txt a file), name by name; none when there is none.
TItem* ItemAtListingPath(TItem* root, const std::string& path);
