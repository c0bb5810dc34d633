// The device channel an executor owns, and the one place where answers from
// the front end's thread meet it: replacing the channel and delivering an
// answer share a lock, so a delivery never reaches a channel being destroyed.
// Replace and the channel's own calls belong to the issuing thread; Deliver
// may come from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "device/device_channel.h"

namespace korvo {

class ChannelSlot final {
 public:
  ChannelSlot() = default;
  ~ChannelSlot() { Replace(nullptr); }
  ChannelSlot(const ChannelSlot&) = delete;
  ChannelSlot& operator=(const ChannelSlot&) = delete;

  DeviceChannel* get() const { return channel_.get(); }
  DeviceChannel* operator->() const { return channel_.get(); }
  DeviceChannel& operator*() const { return *channel_; }
  explicit operator bool() const { return channel_ != nullptr; }

  // Takes `channel` (may be null); the old one is destroyed.
  void Replace(std::unique_ptr<DeviceChannel> channel) {
    std::unique_ptr<DeviceChannel> old;
    std::lock_guard<std::mutex> hold(mutex_);
    old = std::move(channel_);
    channel_ = std::move(channel);
  }

  // Hands one answer to the channel, which takes `bytes` (new[]); without a
  // channel the bytes are released and -1 returned.
  int Deliver(const std::string& kind, const std::string& name, uint8_t* bytes, int count) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!channel_) {
      delete[] bytes;
      return -1;
    }
    return channel_->ReceiveAnswer(kind, name, bytes, count);
  }

 private:
  std::unique_ptr<DeviceChannel> channel_;
  std::mutex mutex_;
};

}  // namespace korvo
