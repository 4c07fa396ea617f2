// Image references and typed wrappers of the host's image functions.
// Every wrapper throws Host::PlugIn::plugin_exception carrying the
// host's code and message when the host call fails or there is no host.
#pragma once

#include <cstdint>

#include "host/link/host_link.h"
#include "host/sdk/host_string.h"

namespace Host {

// One counted reference to a host image, or none. Copying adds a
// reference; destruction releases it (if the host is still there).
class Image {
public:
    Image() = default;
    static Image Adopt(LinkImage* image);   // takes over an existing reference
    static Image Borrow(LinkImage* image);  // adds a reference of its own
    Image(const Image& other);
    Image(Image&& other) noexcept;
    Image& operator=(Image other) noexcept;
    ~Image();

    LinkImage* get() const { return image_; }
    explicit operator bool() const { return image_ != nullptr; }
    // Gives up the reference without releasing it (to hand it on).
    LinkImage* release();

private:
    LinkImage* image_ = nullptr;
};

// "Boolean ImageIsValid( ImageRef )"; a null image is not valid.
bool ImageIsValid(LinkImage* image);
// "uint32 ImageGetNumDimensions( ImageRef )"
uint32_t ImageGetNumDimensions(LinkImage* image);
// "uint32 ImageGetDimensionSize( ImageRef, uint32 )"; 1 for a dimension
// the image does not have.
uint32_t ImageGetDimensionSize(LinkImage* image, uint32_t dim);
// "uint32 ImageGetDataType( ImageRef )": HOST_TYPE_* code.
uint32_t ImageGetDataType(LinkImage* image);
// "void ImageDataChanged( ImageRef )"
void ImageDataChanged(LinkImage* image);
// "void ImageChangeDataType( BasicImage, uint32 )"
void ImageChangeDataType(LinkImage* image, uint32_t data_type);

// "RealImagePtr RealImage( host_string, uint32, uint32[, uint32[, uint32]] )":
// title, bytes per pixel, then 1 to 3 sizes. A new image, one reference.
Image RealImage(const host_string& title, uint32_t bytes, uint32_t width);
Image RealImage(const host_string& title, uint32_t bytes, uint32_t width, uint32_t height);
Image RealImage(const host_string& title, uint32_t bytes, uint32_t width, uint32_t height, uint32_t depth);
// "RealImagePtr IntegerImage( string, long, Boolean, long[, long[, long]] )"
Image IntegerImage(const host_string& title, int32_t bytes, bool is_signed, int32_t width);
Image IntegerImage(const host_string& title, int32_t bytes, bool is_signed, int32_t width, int32_t height);
Image IntegerImage(const host_string& title, int32_t bytes, bool is_signed, int32_t width, int32_t height,
                   int32_t depth);
// "ComplexImagePtr ComplexImage( string, long, long[, long[, long]] )"
Image ComplexImage(const host_string& title, int32_t bytes, int32_t width);
Image ComplexImage(const host_string& title, int32_t bytes, int32_t width, int32_t height);
Image ComplexImage(const host_string& title, int32_t bytes, int32_t width, int32_t height, int32_t depth);

// "void Result( host_string )"
void Result(const host_string& text);

}  // namespace Host
