#pragma once
// A read-only view of a pattern's pixels: what every routine that only reads
// an image takes, so that none of them can write into it. The handlers hand
// the script's own pixel block to these routines without a copy.

#include <armadillo>
#include <cstdint>

// rows x cols pixels stored as the pattern matrix is (diffraction_pattern.h):
// element (x, y) at data[x + y rows]. The pixels must outlive the view.
class PixelView {
public:
    PixelView(const float* data, std::uint64_t rows, std::uint64_t cols) : data_(data), rows_(rows), cols_(cols) {}
    // Implicit: a matrix is read through its view.
    PixelView(const arma::Mat<float>& m) : PixelView(m.memptr(), m.n_rows, m.n_cols) {}

    const float* data() const { return data_; }
    std::uint64_t rows() const { return rows_; }
    std::uint64_t cols() const { return cols_; }
    float operator()(std::uint64_t x, std::uint64_t y) const { return data_[x + y * rows_]; }

private:
    const float* data_;
    std::uint64_t rows_, cols_;
};
