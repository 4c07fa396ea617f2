// SaveImage of a new name that another save takes meanwhile replaces that
// file as any other, holding its lock.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "file_replace/seams.h"
#include "host/app/tiff_io.h"

namespace {

std::string taken;
int TakenFirst(const char*, const char* to) {
    FileReplace::seams.renameNoReplace = nullptr;
    taken = to;
    std::FILE* other = std::fopen(to, "wb");
    if (other != nullptr) std::fclose(other);
    errno = EEXIST;
    return -1;
}

}  // namespace

TEST(SaveImage, ANewNameTakenMeanwhileIsReplacedWhole) {
    char pattern[] = "/tmp/save_image_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string file = std::string(pattern) + "/a.tif";
    const std::vector<float> pixels = {1, 2, 3, 4, 5, 6};
    FileReplace::seams.renameNoReplace = TakenFirst;
    std::vector<std::string> said;
    EXPECT_NO_THROW(orvanhost::WriteTiff(file, 3, 2, pixels.data(), [&](const std::string& s) { said.push_back(s); }));
    FileReplace::seams.renameNoReplace = nullptr;
    EXPECT_EQ(taken, file);
    EXPECT_EQ(orvanhost::ReadTiff(file).pixels, pixels);
    EXPECT_EQ(said, std::vector<std::string>());
    std::filesystem::remove_all(pattern);
}
