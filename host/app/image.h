// Host images: reference counted, a data type, one to three dimensions and
// one contiguous pixel block (pixel x + y*W + z*W*H).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/link/host_link.h"

namespace orvanhost {

enum class DataType : uint32_t {
    Int16 = HOST_TYPE_INT16,
    Real4 = HOST_TYPE_REAL4,
    Complex8 = HOST_TYPE_COMPLEX8,
    UInt8 = HOST_TYPE_UINT8,
    Int32 = HOST_TYPE_INT32,
    Int8 = HOST_TYPE_INT8,
    UInt16 = HOST_TYPE_UINT16,
    UInt32 = HOST_TYPE_UINT32,
    Real8 = HOST_TYPE_REAL8,
    Complex16 = HOST_TYPE_COMPLEX16,
};

// True for the codes above; bytes per pixel of a known type.
bool IsKnownDataType(uint32_t code);
std::size_t BytesPerPixel(DataType type);

// One host image. Made by MakeImage with one reference; freed when the last
// reference is released. Not copyable. The pixels start at zero.
class Image {
public:
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    void AddRef();
    void Release();  // deletes the image at the last reference
    long RefCount() const { return refs_; }
    long ReleaseCount() const { return releases_; }  // Release calls so far

    const std::string& Name() const { return name_; }
    DataType Type() const { return type_; }
    uint32_t NumDimensions() const { return static_cast<uint32_t>(dims_.size()); }
    // Size of dimension dim; a dimension the image does not have answers 1.
    uint32_t DimensionSize(uint32_t dim) const;
    std::size_t PixelCount() const;
    std::size_t ByteCount() const { return data_.size(); }
    void* Data() { return data_.data(); }
    const void* Data() const { return data_.data(); }

    // Pixel values as doubles; complex pixels read their real part and are
    // written with a zero imaginary part; integer pixels are written rounded
    // and clamped to their range (NaN as 0). Throws std::out_of_range for a
    // position outside the image.
    double GetPixel(uint32_t x, uint32_t y = 0, uint32_t z = 0) const;
    void SetPixel(uint32_t x, uint32_t y, uint32_t z, double value);
    void SetPixel(uint32_t x, uint32_t y, double value) { SetPixel(x, y, 0, value); }
    // All pixels in block order, as doubles (see GetPixel).
    std::vector<double> Pixels() const;
    // Sets all pixels from values in block order; throws std::invalid_argument
    // when the count differs from PixelCount().
    void SetPixels(const std::vector<double>& values);

    // Converts every pixel to another type (see SetPixel for the rules).
    // Throws std::logic_error while the pixels are locked.
    void ChangeDataType(DataType type);

    // Lock bookkeeping of the pixel block (the block itself never moves
    // while locked).
    void Lock() { ++locks_; }
    void Unlock();  // throws std::logic_error when not locked
    int LockCount() const { return locks_; }
    void DataChanged() { ++data_changed_; }
    int DataChangedCount() const { return data_changed_; }

    // Images alive in this process (for leak checks in tests).
    static long LiveCount();

private:
    friend Image* NewImageObject(std::string, DataType, std::vector<uint32_t>);
    Image(std::string name, DataType type, std::vector<uint32_t> dims);
    ~Image();
    std::size_t Offset(uint32_t x, uint32_t y, uint32_t z) const;
    double Read(std::size_t index) const;
    void Write(std::size_t index, double value);

    std::string name_;
    DataType type_;
    std::vector<uint32_t> dims_;
    std::vector<unsigned char> data_;
    long refs_ = 1;
    long releases_ = 0;
    int locks_ = 0;
    int data_changed_ = 0;
};

// A counted reference to an image (or none). Copying adds a reference,
// destruction releases it.
class ImagePtr {
public:
    ImagePtr() = default;
    ImagePtr(const ImagePtr& other);
    ImagePtr(ImagePtr&& other) noexcept;
    ImagePtr& operator=(ImagePtr other) noexcept;
    ~ImagePtr();

    static ImagePtr Adopt(Image* image);   // takes over one existing reference
    static ImagePtr Borrow(Image* image);  // adds a reference of its own

    Image* get() const { return image_; }
    Image* operator->() const { return image_; }
    Image& operator*() const { return *image_; }
    explicit operator bool() const { return image_ != nullptr; }
    Image* release();  // gives up the reference without releasing it
    void reset();

private:
    Image* image_ = nullptr;
};

// Makes a new image with one reference. dims holds 1 to 3 sizes, each at
// least 1. Throws std::invalid_argument for other dims, std::length_error
// when the pixel block would not fit in memory.
Image* NewImageObject(std::string name, DataType type, std::vector<uint32_t> dims);
ImagePtr MakeImage(std::string name, DataType type, std::vector<uint32_t> dims);

// A 4-byte real image of width x height pixels, filled from values in block
// order (values may be empty: all zero). Throws as MakeImage, and
// std::invalid_argument when values has another count.
ImagePtr MakeRealImage(uint32_t width, uint32_t height, const std::vector<float>& values = {}, std::string name = "");

// The same object seen through the link.
inline LinkImage* ToLink(Image* image) { return reinterpret_cast<LinkImage*>(image); }
inline Image* FromLink(LinkImage* image) { return reinterpret_cast<Image*>(image); }

}  // namespace orvanhost
