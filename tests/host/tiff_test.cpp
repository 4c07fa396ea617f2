// The script runner's TIFF reader on files written here with libtiff, one
// of each pixel type it accepts, holding values whose floats are known.
#include "host/app/tiff_io.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

// A 2 x 2 grayscale TIFF of the samples v (row 0 first), one strip per row.
template <typename T>
std::string WriteSamples(const std::string &name, uint16_t format, const std::vector<T> &v) {
  const std::string path = testing::TempDir() + name + ".tif";
  TIFF *t = TIFFOpen(path.c_str(), "w");
  if (!t) return path;
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 2);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, 2);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, static_cast<int>(8 * sizeof(T)));
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, format);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 1);
  for (uint32_t y = 0; y < 2; ++y) {
    std::vector<T> row(v.begin() + 2 * y, v.begin() + 2 * y + 2);
    TIFFWriteScanline(t, row.data(), y, 0);
  }
  TIFFClose(t);
  return path;
}

template <typename T>
void ExpectRead(const std::string &name, uint16_t format, const std::vector<T> &v) {
  SCOPED_TRACE(name);
  const std::string path = WriteSamples(name, format, v);
  const dmhost::TiffPixels p = dmhost::ReadTiff(path);
  EXPECT_EQ(p.width, 2u);
  EXPECT_EQ(p.height, 2u);
  std::vector<float> expected;
  for (T s : v) expected.push_back(static_cast<float>(s));
  EXPECT_EQ(p.pixels, expected);
  std::remove(path.c_str());
}

}  // namespace

TEST(ReadTiff, EveryIntegerTypeAndFloatKeepsItsValues) {
  ExpectRead<int8_t>("int8", SAMPLEFORMAT_INT, {-5, -128, 127, 0});
  ExpectRead<uint8_t>("uint8", SAMPLEFORMAT_UINT, {251, 0, 255, 5});
  ExpectRead<int16_t>("int16", SAMPLEFORMAT_INT, {-300, -32768, 32767, 1});
  ExpectRead<uint16_t>("uint16", SAMPLEFORMAT_UINT, {65000, 0, 65535, 300});
  ExpectRead<int32_t>("int32", SAMPLEFORMAT_INT,
                      {-70000, std::numeric_limits<int32_t>::min(), 16777216, 2});
  ExpectRead<uint32_t>("uint32", SAMPLEFORMAT_UINT, {4000000000u, 0, 70000, 3});
  ExpectRead<float>("float", SAMPLEFORMAT_IEEEFP, {-1.5f, 0.25f, 3e30f, -0.0f});
}

TEST(ReadTiff, OtherKindsAreRefusedByName) {
  const std::string path = WriteSamples<double>("double", SAMPLEFORMAT_IEEEFP, {1, 2, 3, 4});
  try {
    dmhost::ReadTiff(path);
    FAIL() << "64-bit samples read";
  } catch (const std::runtime_error &e) {
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
  }
  std::remove(path.c_str());
  EXPECT_THROW(dmhost::ReadTiff(testing::TempDir() + "no-such.tif"), std::runtime_error);
}
