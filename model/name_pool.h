// Items' names packed one after another in large blocks rather than each in
// a heap allocation of its own: the heap rounds a name of a dozen bytes up
// to 32, so a million names take 32 MB as heap copies and about 12 MB here.
// Process-wide, as the record pools are: every drive's scan copies names
// into it and every release of items gives them back, so one lock guards it.
// A block whose names have all been given back is freed, unless names are
// still being added to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

class TNamePool {
 public:
  // Bytes of a block; a longer name gets a block of its own size.
  static constexpr size_t kBlockBytes = 256 * 1024;

  TNamePool() = default;
  ~TNamePool();
  TNamePool(const TNamePool&) = delete;
  TNamePool& operator=(const TNamePool&) = delete;

  // A zero-terminated copy of the length bytes at text; none when no memory
  // can be had for it.
  char* Copy(const char* text, size_t length);
  // Gives back a name Copy made and returns true; returns false, changing
  // nothing, for any other pointer (a heap copy, none).
  bool Release(const char* name);

  // Blocks held now; for tests.
  size_t BlockCount();

 private:
  struct TBlock {
    char* bytes;      // owned (malloc)
    size_t capacity;  // bytes
    size_t used;      // bytes taken, from the start
    int64_t live;     // names copied into it and not given back
  };
  // The block that holds name in blocks_; none.
  TBlock* Holder(const char* name);

  std::mutex lock_;  // guards everything below
  // Ordered by the address of their bytes, to find a name's block in
  // logarithmic time.
  std::vector<TBlock> blocks_;
  // The block names are added to (its bytes), none before the first copy.
  char* filling_ = nullptr;
};

extern TNamePool namePool;

// A copy of an item's name from namePool (see NewItem); none when memory
// runs out.
char* CopyName(const char* text, size_t length);
// Gives back an item's name: to namePool when it made it, to the heap
// otherwise (a name made with malloc, as tests and tools make them).
void ReleaseName(char* name);
