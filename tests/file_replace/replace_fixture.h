// A fresh folder per test, and the few looks at files the replacement tests
// take.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "file_replace/replace_file.h"
#include "file_replace/seams.h"

// What the seams saw, in order: "file" and "folder" for each synced,
// "copy" where a copy in place began.
inline std::vector<std::string>& Seen() {
    static std::vector<std::string> seen;
    return seen;
}
inline void WatchSyncs(const std::string& folder) {
    Seen().clear();
    static std::string watched;
    watched = folder;
    FileReplace::seams.synced = [](const std::string& name) { Seen().push_back(name == watched ? "folder" : "file"); };
    FileReplace::seams.beforeInPlaceOpen = [](const std::string&) { Seen().push_back("copy"); };
}

class ReplaceFolder : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/file_replace_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        FileReplace::seams = FileReplace::Seams();
        std::filesystem::remove_all(dir);
    }
    std::string Path(const std::string& name) const { return dir + "/" + name; }
    std::vector<std::string> Listing() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    static std::string Contents(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static void Write(const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    // Replaces `path` with `text`; the outcome.
    static FileReplace::Outcome Replace(const std::string& path, const std::string& text) {
        FileReplace::Outcome outcome;
        const bool replaced = FileReplace::ReplaceFile(path, text.data(), text.size(), outcome);
        EXPECT_EQ(replaced, outcome.failure == FileReplace::Outcome::Failure::None);
        return outcome;
    }
    static struct stat Status(const std::string& path) {
        struct stat info {};
        EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
        return info;
    }
    std::string dir;
};
