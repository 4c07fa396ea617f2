#include "host/sdk/image_data_lock.h"

#include "host/sdk/plugin_exception.h"
#include "host/sdk/host_interface.h"

namespace Host {
namespace PlugIn {

ImageDataLock::ImageDataLock(LinkImage* image, uint32_t flags) {
    if (!Host::ImageIsValid(image)) return;
    image_ = Host::Image::Borrow(image);
    const HostLink& link = RequireLink();
    LinkError error = NoError();
    std::size_t bytes = 0;
    void* data = link.image_lock(link.host, image, flags, &bytes, &error);
    ThrowIfFailed(error);
    if (!data) throw plugin_exception(HOST_ERROR_HOST_FUNCTION, "the host locked no pixel data");
    data_ = data;
    bytes_ = bytes;
}

ImageDataLock::~ImageDataLock() {
    if (data_) {
        if (const HostLink* link = CurrentLink()) link->image_unlock(link->host, image_.get());
    }
}

}  // namespace PlugIn
}  // namespace Host
