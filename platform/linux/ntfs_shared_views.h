// The MFT views of a pool's images, shared by the mounts of each image: a
// thread that mounts an image which another thread's mount has read in MFT
// order answers from that view instead of reading the MFT again. A view is
// found only while some mount still holds it, so an image mounted after
// every mount of it has gone is read afresh. A view answers for the volume
// as it was read; a mount's own reads (of items the view cannot answer) see
// it as it is, on a second mount as much as on the first.
//
// An image written since (clusters moved through a read-write mount) starts
// a new epoch: views and mounts of an earlier epoch are never handed out
// again, so a re-analysis reads the volume as it now is.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

class TNtfsMftView;

// Shared by every thread of a pool; one lock guards the tables, taken once
// per mount that reads in MFT order and once per mount made.
class TNtfsSharedViews {
 public:
  // The view a mount of imagePath in epoch holds; none when no mount holds
  // one or epoch is not the image's epoch now.
  std::shared_ptr<const TNtfsMftView> Find(const std::string& imagePath, uint64_t epoch);
  // Offers view, read from imagePath by a mount of epoch, to the mounts
  // that follow; ignored when the image has been written since.
  void Offer(const std::string& imagePath, uint64_t epoch,
             const std::shared_ptr<const TNtfsMftView>& view);
  // Views offered so far, one per MFT read: tests check that a second mount
  // of an image reads none.
  int64_t Offered() const;

  // The image's epoch: how often it has been written since the pool began.
  uint64_t Epoch(const std::string& imagePath) const;
  // Says that imagePath has been written: its view is dropped and its epoch
  // advances.
  void Written(const std::string& imagePath);
  // Writes of any image so far; read without the lock, so a mount in use
  // is checked against its image's epoch only after some image was written.
  uint64_t Writes() const { return writes_.load(std::memory_order_acquire); }

 private:
  mutable std::mutex lock_;
  std::map<std::string, std::weak_ptr<const TNtfsMftView>> views_;
  std::map<std::string, uint64_t> epochs_;  // absent: 0
  int64_t offered_ = 0;
  std::atomic<uint64_t> writes_{0};  // advanced under lock_, read without it
};
