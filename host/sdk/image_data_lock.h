// The lock on an image's pixel data.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/link/host_link.h"
#include "host/sdk/image_ref.h"

namespace Host {
namespace PlugIn {

// Locks the pixels of a valid image ("ScriptObject ImageGetLockedData(
// BasicImage, ulong, ScriptObject )") for the lock's lifetime: one
// contiguous block, pixel x + y*W + z*W*H, in the image's own data type.
// An image that is not valid exposes no block (get() is null, size 0).
// Holds a reference of its own to the image; destruction unlocks and
// releases it and announces nothing. Throws plugin_exception when a host
// call fails; then nothing stays locked.
class ImageDataLock {
public:
    ImageDataLock(LinkImage* image, uint32_t flags);
    ImageDataLock(const ImageDataLock&) = delete;
    ImageDataLock& operator=(const ImageDataLock&) = delete;
    ~ImageDataLock();

    void* get() const { return data_; }
    std::size_t size() const { return bytes_; }  // bytes in the block
    bool IsLocked() const { return data_ != nullptr; }

private:
    Host::Image image_;
    void* data_ = nullptr;
    std::size_t bytes_ = 0;
};

}  // namespace PlugIn
}  // namespace Host
