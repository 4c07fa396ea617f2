#include "host/app/image.h"

#include <atomic>
#include <cmath>
#include <complex>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace orvanhost {

namespace {

std::atomic<long> live_images{0};

// Rounded to nearest and clamped to [lo, hi]; NaN gives 0. Done in double
// before the integer conversion, which would be undefined out of range.
template <typename T>
T ToInteger(double v) {
    if (std::isnan(v)) return 0;
    const double lo = static_cast<double>(std::numeric_limits<T>::lowest());
    const double hi = static_cast<double>(std::numeric_limits<T>::max());
    const double r = std::round(v);  // halves away from zero
    if (r <= lo) return std::numeric_limits<T>::lowest();
    if (r >= hi) return std::numeric_limits<T>::max();
    return static_cast<T>(r);
}

float ToFloat(double v) {
    // Out-of-range double to float is left undefined by the language.
    if (v > std::numeric_limits<float>::max()) return std::numeric_limits<float>::infinity();
    if (v < -std::numeric_limits<float>::max()) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(v);
}

template <typename T>
T Load(const unsigned char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <typename T>
void Store(unsigned char* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

}  // namespace

bool IsKnownDataType(uint32_t code) {
    switch (code) {
        case HOST_TYPE_INT16:
        case HOST_TYPE_REAL4:
        case HOST_TYPE_COMPLEX8:
        case HOST_TYPE_UINT8:
        case HOST_TYPE_INT32:
        case HOST_TYPE_INT8:
        case HOST_TYPE_UINT16:
        case HOST_TYPE_UINT32:
        case HOST_TYPE_REAL8:
        case HOST_TYPE_COMPLEX16: return true;
        default: return false;
    }
}

std::size_t BytesPerPixel(DataType type) {
    switch (type) {
        case DataType::Int8:
        case DataType::UInt8: return 1;
        case DataType::Int16:
        case DataType::UInt16: return 2;
        case DataType::Int32:
        case DataType::UInt32:
        case DataType::Real4: return 4;
        case DataType::Real8:
        case DataType::Complex8: return 8;
        case DataType::Complex16: return 16;
    }
    throw std::invalid_argument("unknown image data type");
}

Image::Image(std::string name, DataType type, std::vector<uint32_t> dims)
    : name_(std::move(name)), type_(type), dims_(std::move(dims)) {
    if (dims_.empty() || dims_.size() > 3) throw std::invalid_argument("an image has 1 to 3 dimensions");
    std::size_t n = 1;
    for (uint32_t d : dims_) {
        if (d == 0) throw std::invalid_argument("an image dimension is at least 1");
        if (n > std::numeric_limits<std::size_t>::max() / d) throw std::length_error("image too large");
        n *= d;
    }
    const std::size_t bpp = BytesPerPixel(type_);
    if (n > std::numeric_limits<std::size_t>::max() / bpp) throw std::length_error("image too large");
    data_.assign(n * bpp, 0);
    ++live_images;
}

Image::~Image() { --live_images; }

long Image::LiveCount() { return live_images.load(); }

void Image::AddRef() { ++refs_; }

void Image::Release() {
    ++releases_;
    if (--refs_ == 0) delete this;
}

uint32_t Image::DimensionSize(uint32_t dim) const { return dim < dims_.size() ? dims_[dim] : 1; }

std::size_t Image::PixelCount() const { return data_.size() / BytesPerPixel(type_); }

std::size_t Image::Offset(uint32_t x, uint32_t y, uint32_t z) const {
    const std::size_t w = DimensionSize(0), h = DimensionSize(1), d = DimensionSize(2);
    if (x >= w || y >= h || z >= d) throw std::out_of_range("pixel position outside the image");
    return x + w * (y + h * z);
}

double Image::Read(std::size_t i) const {
    const unsigned char* p = data_.data() + i * BytesPerPixel(type_);
    switch (type_) {
        case DataType::Int8: return Load<int8_t>(p);
        case DataType::UInt8: return Load<uint8_t>(p);
        case DataType::Int16: return Load<int16_t>(p);
        case DataType::UInt16: return Load<uint16_t>(p);
        case DataType::Int32: return Load<int32_t>(p);
        case DataType::UInt32: return Load<uint32_t>(p);
        case DataType::Real4:
        case DataType::Complex8: return Load<float>(p);
        case DataType::Real8:
        case DataType::Complex16: return Load<double>(p);
    }
    return 0;
}

void Image::Write(std::size_t i, double v) {
    unsigned char* p = data_.data() + i * BytesPerPixel(type_);
    switch (type_) {
        case DataType::Int8: Store(p, ToInteger<int8_t>(v)); break;
        case DataType::UInt8: Store(p, ToInteger<uint8_t>(v)); break;
        case DataType::Int16: Store(p, ToInteger<int16_t>(v)); break;
        case DataType::UInt16: Store(p, ToInteger<uint16_t>(v)); break;
        case DataType::Int32: Store(p, ToInteger<int32_t>(v)); break;
        case DataType::UInt32: Store(p, ToInteger<uint32_t>(v)); break;
        case DataType::Real4: Store(p, ToFloat(v)); break;
        case DataType::Real8: Store(p, v); break;
        case DataType::Complex8:
            Store(p, ToFloat(v));
            Store(p + 4, 0.0f);
            break;
        case DataType::Complex16:
            Store(p, v);
            Store(p + 8, 0.0);
            break;
    }
}

double Image::GetPixel(uint32_t x, uint32_t y, uint32_t z) const { return Read(Offset(x, y, z)); }

void Image::SetPixel(uint32_t x, uint32_t y, uint32_t z, double value) { Write(Offset(x, y, z), value); }

std::vector<double> Image::Pixels() const {
    std::vector<double> v(PixelCount());
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = Read(i);
    return v;
}

void Image::SetPixels(const std::vector<double>& values) {
    if (values.size() != PixelCount()) throw std::invalid_argument("pixel count differs from the image's");
    for (std::size_t i = 0; i < values.size(); ++i) Write(i, values[i]);
}

void Image::ChangeDataType(DataType type) {
    if (locks_ > 0) throw std::logic_error("cannot change the data type of a locked image");
    if (type == type_) return;
    const std::vector<double> values = Pixels();
    const std::size_t n = values.size();
    type_ = type;
    data_.assign(n * BytesPerPixel(type), 0);
    for (std::size_t i = 0; i < n; ++i) Write(i, values[i]);
}

void Image::Unlock() {
    if (locks_ == 0) throw std::logic_error("image is not locked");
    --locks_;
}

Image* NewImageObject(std::string name, DataType type, std::vector<uint32_t> dims) {
    return new Image(std::move(name), type, std::move(dims));
}

ImagePtr MakeImage(std::string name, DataType type, std::vector<uint32_t> dims) {
    return ImagePtr::Adopt(NewImageObject(std::move(name), type, std::move(dims)));
}

ImagePtr MakeRealImage(uint32_t width, uint32_t height, const std::vector<float>& values, std::string name) {
    ImagePtr image = MakeImage(std::move(name), DataType::Real4, {width, height});
    if (!values.empty()) {
        if (values.size() != image->PixelCount())
            throw std::invalid_argument("pixel count differs from width x height");
        std::memcpy(image->Data(), values.data(), values.size() * sizeof(float));
    }
    return image;
}

ImagePtr::ImagePtr(const ImagePtr& other) : image_(other.image_) {
    if (image_) image_->AddRef();
}

ImagePtr::ImagePtr(ImagePtr&& other) noexcept : image_(other.image_) { other.image_ = nullptr; }

ImagePtr& ImagePtr::operator=(ImagePtr other) noexcept {
    std::swap(image_, other.image_);
    return *this;
}

ImagePtr::~ImagePtr() { reset(); }

ImagePtr ImagePtr::Adopt(Image* image) {
    ImagePtr p;
    p.image_ = image;
    return p;
}

ImagePtr ImagePtr::Borrow(Image* image) {
    if (image) image->AddRef();
    return Adopt(image);
}

Image* ImagePtr::release() {
    Image* i = image_;
    image_ = nullptr;
    return i;
}

void ImagePtr::reset() {
    if (image_) image_->Release();
    image_ = nullptr;
}

}  // namespace orvanhost
