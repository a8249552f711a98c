// The MFT views of a pool's images, shared by the mounts of each image: a
// thread that mounts an image which another thread's mount has read in MFT
// order answers from that view instead of reading the MFT again. A view is
// found only while some mount still holds it, so an image mounted after
// every mount of it has gone is read afresh. A view answers for the volume
// as it was read; a mount's own reads (of items the view cannot answer) see
// it as it is, on a second mount as much as on the first.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

class TNtfsMftView;

// Shared by every thread of a pool; one lock guards the table, taken once
// per mount that reads in MFT order.
class TNtfsSharedViews {
 public:
  // The view a mount of imagePath holds; none when no mount holds one.
  std::shared_ptr<const TNtfsMftView> Find(const std::string& imagePath);
  // Offers view, just read from imagePath, to the mounts that follow.
  void Offer(const std::string& imagePath, const std::shared_ptr<const TNtfsMftView>& view);
  // Views offered so far, one per MFT read: tests check that a second mount
  // of an image reads none.
  int64_t Offered() const;

 private:
  mutable std::mutex lock_;
  std::map<std::string, std::weak_ptr<const TNtfsMftView>> views_;
  int64_t offered_ = 0;
};
