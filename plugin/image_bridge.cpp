#include "plugin/image_bridge.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "host/sdk/host_string.h"
#include "host/sdk/image_data_lock.h"

namespace orvan {

namespace {

using Host::PlugIn::ImageDataLock;

constexpr uint32_t kLockFlags = 1;

std::size_t PixelBytes(uint32_t type) {
    switch (type) {
        case HOST_TYPE_INT8:
        case HOST_TYPE_UINT8: return 1;
        case HOST_TYPE_INT16:
        case HOST_TYPE_UINT16: return 2;
        case HOST_TYPE_INT32:
        case HOST_TYPE_UINT32:
        case HOST_TYPE_REAL4: return 4;
        case HOST_TYPE_REAL8: return 8;
        default: return 0;  // complex and unknown types are not read as reals
    }
}

template <typename T>
float LoadAs(const unsigned char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return static_cast<float>(v);
}

// Pixel i of a block of the given type, as a float. The caller has checked
// the block size.
float PixelAsFloat(const unsigned char* block, uint32_t type, std::size_t i) {
    const unsigned char* p = block + i * PixelBytes(type);
    switch (type) {
        case HOST_TYPE_INT8: return LoadAs<int8_t>(p);
        case HOST_TYPE_UINT8: return LoadAs<uint8_t>(p);
        case HOST_TYPE_INT16: return LoadAs<int16_t>(p);
        case HOST_TYPE_UINT16: return LoadAs<uint16_t>(p);
        case HOST_TYPE_INT32: return LoadAs<int32_t>(p);
        case HOST_TYPE_UINT32: return LoadAs<uint32_t>(p);
        case HOST_TYPE_REAL4: return LoadAs<float>(p);
        default: {  // HOST_TYPE_REAL8
            double v;
            std::memcpy(&v, p, sizeof v);
            if (v > std::numeric_limits<float>::max()) return std::numeric_limits<float>::infinity();
            if (v < -std::numeric_limits<float>::max()) return -std::numeric_limits<float>::infinity();
            return static_cast<float>(v);
        }
    }
}

// A locked image whose first `count` pixels may be read as reals.
struct ReadableBlock {
    uint32_t type;
    const unsigned char* data;
};

ReadableBlock CheckReadable(LinkImage* image, const ImageDataLock& lock, std::size_t count) {
    const uint32_t type = Host::ImageGetDataType(image);
    const std::size_t bpp = PixelBytes(type);
    if (type == HOST_TYPE_COMPLEX8 || type == HOST_TYPE_COMPLEX16)
        throw std::runtime_error("complex images cannot be analysed");
    if (bpp == 0)
        throw std::runtime_error("image of data type " + std::to_string(type) + " cannot be read as real numbers");
    if (!lock.IsLocked()) throw std::runtime_error("image pixel data could not be locked");
    if (count > lock.size() / bpp) throw std::runtime_error("image pixel data smaller than its dimensions");
    return {type, static_cast<const unsigned char*>(lock.get())};
}

uint32_t ImageSize(arma::uword n) {
    if (n > std::numeric_limits<uint32_t>::max()) throw std::runtime_error("matrix too large for an image");
    return static_cast<uint32_t>(n);
}

float ToFloat(double v) {
    if (v > std::numeric_limits<float>::max()) return std::numeric_limits<float>::infinity();
    if (v < -std::numeric_limits<float>::max()) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(v);
}

uint16_t ToUInt16(double v) {
    if (std::isnan(v)) return 0;
    const double r = std::round(v);  // halves away from zero
    if (r <= 0) return 0;
    if (r >= 65535) return 65535;
    return static_cast<uint16_t>(r);
}

// Locks a new image, writes count pixels of bpp bytes with put(block, i),
// announces the change while still locked, and hands the image back.
template <typename Put>
Host::Image Fill(Host::Image image, std::size_t count, std::size_t bpp, Put put) {
    {
        ImageDataLock lock(image.get(), kLockFlags);
        if (!lock.IsLocked()) throw std::runtime_error("new image pixel data could not be locked");
        if (count > lock.size() / bpp) throw std::runtime_error("new image smaller than its data");
        unsigned char* block = static_cast<unsigned char*>(lock.get());
        for (std::size_t i = 0; i < count; ++i) put(block + i * bpp, i);
        Host::ImageDataChanged(image.get());
    }
    return image;
}

template <typename Values>
Host::Image FillReal(Host::Image image, const Values& values) {
    return Fill(std::move(image), values.n_elem, 4, [&](unsigned char* p, std::size_t i) {
        const float v = values[i];
        std::memcpy(p, &v, 4);
    });
}

template <typename Values>
Host::Image FillInteger(Host::Image image, const Values& values) {
    return Fill(std::move(image), values.n_elem, 2, [&](unsigned char* p, std::size_t i) {
        const uint16_t v = ToUInt16(values[i]);
        std::memcpy(p, &v, 2);
    });
}

template <typename Values>
Host::Image FillComplex(Host::Image image, const Values& values) {
    return Fill(std::move(image), values.n_elem, 8, [&](unsigned char* p, std::size_t i) {
        const float pair[2] = {ToFloat(values[i]), 0.0f};
        std::memcpy(p, pair, 8);
    });
}

int32_t LongSize(arma::uword n) {
    if (n > static_cast<arma::uword>(std::numeric_limits<int32_t>::max()))
        throw std::runtime_error("matrix too large for an image");
    return static_cast<int32_t>(n);
}

}  // namespace

arma::Mat<float> ImageToFloatMatrix(LinkImage* image) {
    if (!Host::ImageIsValid(image)) return arma::Mat<float>();
    const uint32_t w = Host::ImageGetDimensionSize(image, 0);
    const uint32_t h = Host::ImageGetDimensionSize(image, 1);
    ImageDataLock lock(image, kLockFlags);
    const std::size_t count = static_cast<std::size_t>(w) * h;
    const ReadableBlock block = CheckReadable(image, lock, count);
    arma::Mat<float> m(w, h, arma::fill::none);
    float* out = m.memptr();
    if (block.type == HOST_TYPE_REAL4) {
        std::memcpy(out, block.data, count * sizeof(float));
    } else {
        for (std::size_t i = 0; i < count; ++i) out[i] = PixelAsFloat(block.data, block.type, i);
    }
    return m;
}

ImagePixelsForReading::ImagePixelsForReading(LinkImage* image) {
    if (Host::ImageIsValid(image) && Host::ImageGetDataType(image) == HOST_TYPE_REAL4) {
        const uint32_t w = Host::ImageGetDimensionSize(image, 0);
        const uint32_t h = Host::ImageGetDimensionSize(image, 1);
        auto lock = std::make_unique<ImageDataLock>(image, kLockFlags);
        const std::size_t count = static_cast<std::size_t>(w) * h;
        const ReadableBlock block = CheckReadable(image, *lock, count);
        if (count > 0 && reinterpret_cast<std::uintptr_t>(block.data) % alignof(float) == 0) {
            pixels_ = reinterpret_cast<const float*>(block.data);
            width_ = w;
            height_ = h;
            lock_ = std::move(lock);
            return;
        }
    }
    copy_ = ImageToFloatMatrix(image);
    pixels_ = copy_.memptr();
    width_ = copy_.n_rows;
    height_ = copy_.n_cols;
}

namespace {

arma::Cube<float> ReadCube(LinkImage* image, bool one_step) {
    if (!Host::ImageIsValid(image)) return arma::Cube<float>();
    const uint32_t w = Host::ImageGetDimensionSize(image, 0);
    const uint32_t h = Host::ImageGetDimensionSize(image, 1);
    const uint32_t d = Host::ImageGetDimensionSize(image, 2);
    ImageDataLock lock(image, kLockFlags);
    const std::size_t plane = static_cast<std::size_t>(w) * h;
    if (d != 0 && plane > std::numeric_limits<std::size_t>::max() / d) throw std::runtime_error("image too large");
    const ReadableBlock block = CheckReadable(image, lock, plane * d);
    if (one_step && block.type == HOST_TYPE_REAL4) {
        // One copy of the whole block (it need not be aligned for float).
        arma::Cube<float> c(w, h, d, arma::fill::none);
        std::memcpy(c.memptr(), block.data, plane * d * sizeof(float));
        return c;
    }
    arma::Cube<float> c(w, h, d, arma::fill::none);
    for (uint32_t z = 0; z < d; ++z)
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x)
                c(x, y, z) = PixelAsFloat(block.data, block.type, x + y * static_cast<std::size_t>(w) + z * plane);
    return c;
}

}  // namespace

arma::Cube<float> ImageToFloatCube(LinkImage* image) { return ReadCube(image, true); }
arma::Cube<float> ImageToFloatCubeCopy(LinkImage* image) { return ReadCube(image, false); }

Host::Image FloatMatrixToRealImage(arma::Mat<float> matrix, const std::string& name) {
    const uint32_t w = ImageSize(matrix.n_rows), h = ImageSize(matrix.n_cols);
    Host::Image image = Host::RealImage(host_string(name), 4, w, h);
    return FillReal(std::move(image), matrix);
}

Host::Image VectorToRealImage(const arma::Col<float>& vector, const std::string& name) {
    Host::Image image = Host::RealImage(host_string(name), 4, ImageSize(vector.n_elem));
    return FillReal(std::move(image), vector);
}

Host::Image FloatCubeToRealImage(const arma::Cube<float>& cube, const std::string& name) {
    Host::Image image =
        Host::RealImage(host_string(name), 4, ImageSize(cube.n_rows), ImageSize(cube.n_cols), ImageSize(cube.n_slices));
    return FillReal(std::move(image), cube);
}

Host::Image VectorToIntegerImage(const arma::Col<double>& vector, const std::string& name) {
    Host::Image image = Host::IntegerImage(host_string(name), 2, false, LongSize(vector.n_elem));
    return FillInteger(std::move(image), vector);
}

Host::Image MatrixToIntegerImage(const arma::Mat<double>& matrix, const std::string& name) {
    Host::Image image =
        Host::IntegerImage(host_string(name), 2, false, LongSize(matrix.n_rows), LongSize(matrix.n_cols));
    return FillInteger(std::move(image), matrix);
}

Host::Image CubeToIntegerImage(const arma::Cube<double>& cube, const std::string& name) {
    Host::Image image = Host::IntegerImage(host_string(name), 2, false, LongSize(cube.n_rows), LongSize(cube.n_cols),
                                           LongSize(cube.n_slices));
    return FillInteger(std::move(image), cube);
}

Host::Image VectorToComplexImage(const arma::Col<double>& vector, const std::string& name) {
    Host::Image image = Host::ComplexImage(host_string(name), 8, LongSize(vector.n_elem));
    return FillComplex(std::move(image), vector);
}

Host::Image MatrixToComplexImage(const arma::Mat<double>& matrix, const std::string& name) {
    Host::Image image = Host::ComplexImage(host_string(name), 8, LongSize(matrix.n_rows), LongSize(matrix.n_cols));
    return FillComplex(std::move(image), matrix);
}

Host::Image CubeToComplexImage(const arma::Cube<double>& cube, const std::string& name) {
    Host::Image image =
        Host::ComplexImage(host_string(name), 8, LongSize(cube.n_rows), LongSize(cube.n_cols), LongSize(cube.n_slices));
    return FillComplex(std::move(image), cube);
}

void CopyFloatMatrixToImage(LinkImage* image, const arma::Mat<float>& matrix) {
    if (!Host::ImageIsValid(image)) throw std::runtime_error("cannot write into an image that is not valid");
    const uint32_t type = Host::ImageGetDataType(image);
    if (type != HOST_TYPE_REAL4)
        throw std::runtime_error("cannot write into an image of data type " + std::to_string(type) +
                                 ", a 4-byte real image is needed");
    const uint32_t w = Host::ImageGetDimensionSize(image, 0);
    const uint32_t h = Host::ImageGetDimensionSize(image, 1);
    if (matrix.n_rows > w || matrix.n_cols > h)
        throw std::runtime_error("image of " + std::to_string(w) + " x " + std::to_string(h) +
                                 " pixels too small for " + std::to_string(matrix.n_rows) + " x " +
                                 std::to_string(matrix.n_cols) + " values");
    ImageDataLock lock(image, kLockFlags);
    if (!lock.IsLocked()) throw std::runtime_error("image pixel data could not be locked");
    if (static_cast<std::size_t>(w) * h > lock.size() / sizeof(float))
        throw std::runtime_error("image pixel data smaller than its dimensions");
    unsigned char* block = static_cast<unsigned char*>(lock.get());
    const std::size_t rows = matrix.n_rows;
    for (std::size_t y = 0; y < matrix.n_cols; ++y)
        std::memcpy(block + y * static_cast<std::size_t>(w) * sizeof(float), matrix.colptr(y), rows * sizeof(float));
}

void StoreNewImage(LinkImage** slot, Host::Image image) {
    if (!slot) throw std::invalid_argument("no image variable to receive the new image");
    Host::Image old = Host::Image::Adopt(*slot);  // released when this returns
    *slot = image.release();
}

}  // namespace orvan
