#include "host/sdk/image_ref.h"

#include <initializer_list>
#include <utility>
#include <vector>

#include "host/sdk/plugin_exception.h"
#include "host/sdk/host_interface.h"

using Host::PlugIn::CurrentLink;
using Host::PlugIn::NoError;
using Host::PlugIn::plugin_exception;
using Host::PlugIn::RequireLink;
using Host::PlugIn::ThrowIfFailed;

namespace Host {

Image Image::Adopt(LinkImage* image) {
    Image i;
    i.image_ = image;
    return i;
}

Image Image::Borrow(LinkImage* image) {
    if (image) {
        const HostLink& link = RequireLink();
        link.image_add_ref(link.host, image);
    }
    return Adopt(image);
}

Image::Image(const Image& other) : image_(other.image_) {
    if (image_) {
        const HostLink& link = RequireLink();
        link.image_add_ref(link.host, image_);
    }
}

Image::Image(Image&& other) noexcept : image_(other.image_) { other.image_ = nullptr; }

Image& Image::operator=(Image other) noexcept {
    std::swap(image_, other.image_);
    return *this;
}

Image::~Image() {
    if (image_) {
        if (const HostLink* link = CurrentLink()) link->image_release(link->host, image_);
    }
}

LinkImage* Image::release() {
    LinkImage* i = image_;
    image_ = nullptr;
    return i;
}

bool ImageIsValid(LinkImage* image) {
    const HostLink& link = RequireLink();
    LinkError error = NoError();
    const int32_t valid = link.image_is_valid(link.host, image, &error);
    ThrowIfFailed(error);
    return valid != 0;
}

uint32_t ImageGetNumDimensions(LinkImage* image) {
    const HostLink& link = RequireLink();
    LinkError error = NoError();
    const uint32_t n = link.image_num_dimensions(link.host, image, &error);
    ThrowIfFailed(error);
    return n;
}

uint32_t ImageGetDimensionSize(LinkImage* image, uint32_t dim) {
    const HostLink& link = RequireLink();
    LinkError error = NoError();
    const uint32_t n = link.image_dimension_size(link.host, image, dim, &error);
    ThrowIfFailed(error);
    return n;
}

uint32_t ImageGetDataType(LinkImage* image) {
    const HostLink& link = RequireLink();
    LinkError error = NoError();
    const uint32_t t = link.image_data_type(link.host, image, &error);
    ThrowIfFailed(error);
    return t;
}

void ImageDataChanged(LinkImage* image) {
    const HostLink& link = RequireLink();
    LinkError error = NoError();
    link.image_data_changed(link.host, image, &error);
    ThrowIfFailed(error);
}

void ImageChangeDataType(LinkImage* image, uint32_t data_type) {
    const HostLink& link = RequireLink();
    LinkError error = NoError();
    link.image_change_data_type(link.host, image, data_type, &error);
    ThrowIfFailed(error);
}

namespace {

enum class Kind { Real, Integer, Complex };

std::vector<uint32_t> Sizes(std::initializer_list<int64_t> sizes) {
    std::vector<uint32_t> dims;
    for (int64_t s : sizes) {
        if (s < 0 || s > 0xFFFFFFFFll)
            throw plugin_exception(HOST_ERROR_HOST_FUNCTION, "image size " + std::to_string(s) + " out of range");
        dims.push_back(static_cast<uint32_t>(s));
    }
    return dims;
}

Image Make(Kind kind, const host_string& title, int64_t bytes, bool is_signed, std::initializer_list<int64_t> sizes) {
    const HostLink& link = RequireLink();
    const std::vector<uint32_t> dims = Sizes(sizes);
    if (bytes < 0 || bytes > 16) throw plugin_exception(HOST_ERROR_HOST_FUNCTION, "bytes per pixel out of range");
    const uint32_t b = static_cast<uint32_t>(bytes);
    const uint32_t n = static_cast<uint32_t>(dims.size());
    LinkError error = NoError();
    LinkImage* image = nullptr;
    switch (kind) {
        case Kind::Real: image = link.real_image(link.host, title.get(), b, n, dims.data(), &error); break;
        case Kind::Integer:
            image = link.integer_image(link.host, title.get(), b, is_signed ? 1 : 0, n, dims.data(), &error);
            break;
        case Kind::Complex: image = link.complex_image(link.host, title.get(), b, n, dims.data(), &error); break;
    }
    ThrowIfFailed(error);
    if (!image) throw plugin_exception(HOST_ERROR_HOST_FUNCTION, "the host made no image");
    return Image::Adopt(image);
}

}  // namespace

Image RealImage(const host_string& t, uint32_t bytes, uint32_t w) { return Make(Kind::Real, t, bytes, false, {w}); }
Image RealImage(const host_string& t, uint32_t bytes, uint32_t w, uint32_t h) {
    return Make(Kind::Real, t, bytes, false, {w, h});
}
Image RealImage(const host_string& t, uint32_t bytes, uint32_t w, uint32_t h, uint32_t d) {
    return Make(Kind::Real, t, bytes, false, {w, h, d});
}
Image IntegerImage(const host_string& t, int32_t bytes, bool s, int32_t w) {
    return Make(Kind::Integer, t, bytes, s, {w});
}
Image IntegerImage(const host_string& t, int32_t bytes, bool s, int32_t w, int32_t h) {
    return Make(Kind::Integer, t, bytes, s, {w, h});
}
Image IntegerImage(const host_string& t, int32_t bytes, bool s, int32_t w, int32_t h, int32_t d) {
    return Make(Kind::Integer, t, bytes, s, {w, h, d});
}
Image ComplexImage(const host_string& t, int32_t bytes, int32_t w) { return Make(Kind::Complex, t, bytes, false, {w}); }
Image ComplexImage(const host_string& t, int32_t bytes, int32_t w, int32_t h) {
    return Make(Kind::Complex, t, bytes, false, {w, h});
}
Image ComplexImage(const host_string& t, int32_t bytes, int32_t w, int32_t h, int32_t d) {
    return Make(Kind::Complex, t, bytes, false, {w, h, d});
}

void Result(const host_string& text) {
    const HostLink& link = RequireLink();
    LinkError error = NoError();
    link.result(link.host, text.get(), &error);
    ThrowIfFailed(error);
}

}  // namespace Host
