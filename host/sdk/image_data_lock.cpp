#include "host/sdk/image_data_lock.h"

#include "host/sdk/dmplugin_exception.h"
#include "host/sdk/host_interface.h"

namespace Gatan {
namespace PlugIn {

ImageDataLock::ImageDataLock(DMImage* image, uint32_t flags) {
    if (!DM::ImageIsValid(image)) return;
    image_ = DM::Image::Borrow(image);
    const DMHostLink& link = RequireLink();
    DMError error = NoError();
    std::size_t bytes = 0;
    void* data = link.image_lock(link.host, image, flags, &bytes, &error);
    ThrowIfFailed(error);
    if (!data) throw dmplugin_exception(DM_ERROR_HOST_FUNCTION, "the host locked no pixel data");
    data_ = data;
    bytes_ = bytes;
}

ImageDataLock::~ImageDataLock() {
    if (data_) {
        if (const DMHostLink* link = CurrentLink()) link->image_unlock(link->host, image_.get());
    }
}

}  // namespace PlugIn
}  // namespace Gatan
