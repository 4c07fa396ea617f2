// Moves pixels between host images and Armadillo values.
//
// Matrix convention: an image W pixels wide (x, dimension 0) and H high
// (y, dimension 1) is an arma::Mat<float> of W rows and H columns; element
// (x, y) is pixel x + y*W, so both blocks are walked in the same order. A
// profile is one column; its image is W x 1.
//
// Every function here throws Host::PlugIn::plugin_exception when a host
// call fails (message from the host), std::bad_alloc when memory runs out,
// and std::runtime_error for an image it refuses (message names the
// problem). Nothing is written when a check fails. New images come back as
// Host::Image holding their one reference, which belongs to the caller.
#pragma once

#include <armadillo>
#include <memory>
#include <string>

#include "host/link/host_link.h"
#include "host/sdk/image_data_lock.h"
#include "host/sdk/image_ref.h"

namespace orvan {

// The pixels of a borrowed image as a W x H matrix. An image that is not
// valid gives a 0 x 0 matrix (nothing reported). Integer and real pixels of
// other types are converted to float; complex images are refused ("complex
// images cannot be analysed").
arma::Mat<float> ImageToFloatMatrix(LinkImage* image);
// The pixels of a borrowed image for reading, as ImageToFloatMatrix gives
// them, while this object lives, and only for reading: they are handed out
// as const. A valid 4-byte real image whose block is aligned for float is
// read in place, the script's own pixels without a copy, and the block stays
// locked (the lock holding its own reference to the image) until this object
// is destroyed. Any other image gets a converted copy. Throws what
// ImageToFloatMatrix throws.
class ImagePixelsForReading {
public:
    explicit ImagePixelsForReading(LinkImage* image);
    ImagePixelsForReading(const ImagePixelsForReading&) = delete;
    ImagePixelsForReading& operator=(const ImagePixelsForReading&) = delete;

    // W x H pixels, element (x, y) at data()[x + y * width()]; 0 x 0 for an
    // image that is not valid.
    const float* data() const { return pixels_; }
    arma::uword width() const { return width_; }
    arma::uword height() const { return height_; }
    bool InPlace() const { return lock_ != nullptr; }

private:
    std::unique_ptr<Host::PlugIn::ImageDataLock> lock_;
    arma::Mat<float> copy_;
    const float* pixels_ = nullptr;
    arma::uword width_ = 0, height_ = 0;
};

// The same as a W x H x D cube (dimension 2 as depth): ImageToFloatCube
// takes the block in one step, ImageToFloatCubeCopy element by element.
arma::Cube<float> ImageToFloatCube(LinkImage* image);
arma::Cube<float> ImageToFloatCubeCopy(LinkImage* image);

// A new 2-D 4-byte real image, rows x cols pixels, titled name, with the
// matrix's values; the host is told its data changed. Also for one column
// (one pixel high). A matrix with no elements is refused by the host.
Host::Image FloatMatrixToRealImage(arma::Mat<float> matrix, const std::string& name);
// A 1-D real image of n pixels.
Host::Image VectorToRealImage(const arma::Col<float>& vector, const std::string& name);
// A 3-D real image W x H x D.
Host::Image FloatCubeToRealImage(const arma::Cube<float>& cube, const std::string& name);
// 2-byte unsigned integer images; each value rounded to nearest (halves away from zero), clamped to
// 0..65535, not-a-number stored as 0.
Host::Image VectorToIntegerImage(const arma::Col<double>& vector, const std::string& name);
Host::Image MatrixToIntegerImage(const arma::Mat<double>& matrix, const std::string& name);
Host::Image CubeToIntegerImage(const arma::Cube<double>& cube, const std::string& name);
// 8-byte complex images; each value as the real part (single precision),
// imaginary part 0.
Host::Image VectorToComplexImage(const arma::Col<double>& vector, const std::string& name);
Host::Image MatrixToComplexImage(const arma::Mat<double>& matrix, const std::string& name);
Host::Image CubeToComplexImage(const arma::Cube<double>& cube, const std::string& name);

// Overwrites the pixels of an existing image: element (x, y) into pixel
// (x, y). The image must be a valid 4-byte real image at least as wide as
// the matrix has rows and at least as high as it has columns; otherwise
// std::runtime_error and nothing is written. Pixels outside the matrix keep
// their values. The host is not told the data changed.
void CopyFloatMatrixToImage(LinkImage* image, const arma::Mat<float>& matrix);

// Hands a new image back through an ImageRef * out-parameter: make the
// image first, then call this. Releases the image the slot held (exactly
// once) and stores the new one, which the slot takes over. A null slot
// throws std::invalid_argument; the slot and the old image are untouched
// and the new image is released.
void StoreNewImage(LinkImage** slot, Host::Image image);

// Stores a number through a float * out-parameter (a null pointer is
// skipped).
inline void StoreFloat(float* slot, float value) {
    if (slot) *slot = value;
}

}  // namespace orvan
