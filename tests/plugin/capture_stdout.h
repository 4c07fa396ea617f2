// Captures what the process writes to standard output (file descriptor 1,
// so std::cout and printf alike) while an object of this class lives.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <stdexcept>
#include <string>

namespace orvan_test {

class CaptureStdout {
public:
    CaptureStdout() {
        std::cout.flush();
        std::fflush(stdout);
        file_ = std::tmpfile();
        if (!file_) throw std::runtime_error("no temporary file");
        saved_ = dup(1);
        dup2(fileno(file_), 1);
    }
    CaptureStdout(const CaptureStdout&) = delete;
    CaptureStdout& operator=(const CaptureStdout&) = delete;
    ~CaptureStdout() {
        Restore();
        std::fclose(file_);
    }

    // Stops capturing and returns what was written.
    std::string Text() {
        Restore();
        std::string text;
        std::rewind(file_);
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, file_)) > 0) text.append(buf, n);
        return text;
    }

private:
    void Restore() {
        if (saved_ < 0) return;
        std::cout.flush();
        std::fflush(stdout);
        dup2(saved_, 1);
        close(saved_);
        saved_ = -1;
    }
    std::FILE* file_ = nullptr;
    int saved_ = -1;
};

}  // namespace orvan_test
