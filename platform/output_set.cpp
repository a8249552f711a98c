#include "platform/output_set.h"

#include <utility>

namespace {

// Orders the commits of every drive's set; see output_set.h.
std::mutex commitLock;

}  // namespace

void TOutputSet::Add(const std::string& what, std::unique_ptr<TReplacementFile> file) {
  std::string failure = file->FailureText();
  std::lock_guard<std::mutex> guard(lock_);
  entries_.push_back(TEntry{what, std::move(file), std::move(failure)});
}

void TOutputSet::AddFailure(const std::string& what, const std::string& reason) {
  std::lock_guard<std::mutex> guard(lock_);
  entries_.push_back(TEntry{what, nullptr, reason});
}

void TOutputSet::Absorb(TOutputSet& other) {
  std::vector<TEntry> taken;
  {
    std::lock_guard<std::mutex> guard(other.lock_);
    taken.swap(other.entries_);
  }
  std::lock_guard<std::mutex> guard(lock_);
  for (TEntry& entry : taken) entries_.push_back(std::move(entry));
}

std::string TOutputSet::Commit() {
  std::vector<TEntry> entries;
  {
    std::lock_guard<std::mutex> guard(lock_);
    entries.swap(entries_);
  }
  std::string failures;
  const auto fail = [&failures](const TEntry& entry, const std::string& reason) {
    if (!failures.empty()) failures += "; ";
    failures += entry.what + " could not be written: " + reason;
  };
  size_t failed = 0;
  for (const TEntry& entry : entries) {
    if (entry.failure.empty()) continue;
    fail(entry, entry.failure);
    ++failed;
  }
  if (failed > 0) {
    // The new files go with their owners; the old ones stay as they were.
    if (failed < entries.size()) failures += "; no other file of this run was put in place either";
    return failures;
  }
  std::lock_guard<std::mutex> guard(commitLock);
  for (const TEntry& entry : entries) {
    if (!entry.file->PutInPlace()) fail(entry, entry.file->FailureText());
  }
  return failures;
}

void TOutputSet::Discard() {
  std::lock_guard<std::mutex> guard(lock_);
  entries_.clear();
}
