// Watches a FIFO while calls run: Stop() tells whether anything opened it.
// Opening a FIFO for reading waits for a writer, so the watcher also plays
// that writer: a reader meets the end at once instead of waiting for ever.
#ifndef TESTS_WORKBOOK_FIFO_WATCH_H
#define TESTS_WORKBOOK_FIFO_WATCH_H

#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

class FifoWatch {
public:
    explicit FifoWatch(std::string path)
        : path_(std::move(path)),
          events_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)),
          watching_(events_ >= 0 && inotify_add_watch(events_, path_.c_str(), IN_OPEN) >= 0),
          thread_([this] { Run(); }) {}
    ~FifoWatch() {
        Stop();
        if (events_ >= 0) close(events_);
    }
    // True when something opened the FIFO (or it could not be watched).
    bool Stop() {
        done_ = true;
        if (thread_.joinable()) thread_.join();
        char buffer[4096];
        // Only a successful open is an event: the writer's refused opens are not.
        return !watching_ || opened_ || read(events_, buffer, sizeof buffer) > 0;
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
    int events_;
    bool watching_;
    std::atomic<bool> done_{false};
    std::atomic<bool> opened_{false};
    std::thread thread_;
};

#endif
