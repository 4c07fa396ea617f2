// Watches a FIFO while calls run. Opening a FIFO for reading waits for a
// writer, so the watcher plays that writer: it notes that the FIFO was
// opened, and the reader meets the end at once instead of waiting for ever.
#ifndef TESTS_WORKBOOK_FIFO_WATCH_H
#define TESTS_WORKBOOK_FIFO_WATCH_H

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

class FifoWatch {
public:
    explicit FifoWatch(std::string path) : path_(std::move(path)), thread_([this] { Run(); }) {}
    ~FifoWatch() { Stop(); }
    // True when something opened the FIFO for reading while it was watched.
    bool Stop() {
        done_ = true;
        if (thread_.joinable()) thread_.join();
        return opened_;
    }

private:
    void Run() {
        while (!done_) {
            // Refused (ENXIO) as long as no reader has it open.
            const int fd = open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                opened_ = true;
                close(fd);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    std::string path_;
    std::atomic<bool> done_{false};
    std::atomic<bool> opened_{false};
    std::thread thread_;
};

#endif
