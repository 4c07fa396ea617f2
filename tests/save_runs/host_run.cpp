#include "host_run.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

namespace {

// The programs the build made.
const char* Env(const char* name) {
    const std::string wanted = name;
    if (wanted == "ORVANHOST") return ORVANHOST;
    if (wanted == "ORVAN_MODULE") return ORVAN_MODULE;
    if (wanted == "ORVAN_STOP_SHIM") return ORVAN_STOP_SHIM;
    return nullptr;
}

}  // namespace

std::string MissingPrograms() {
    for (const char* name : {"ORVANHOST", "ORVAN_MODULE", "ORVAN_STOP_SHIM"})
        if (access(Env(name), R_OK) != 0) return std::string(name) + " is not built: " + Env(name);
    return "";
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    return static_cast<bool>(out.flush());
}

pid_t StartHost(const std::string& script, const std::string& folder, long stopAt, rlim_t fileLimit, uid_t user) {
    const std::string out = script + ".stdout", err = script + ".stderr";
    const pid_t child = fork();
    if (child != 0) return child;
    const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (o < 0 || e < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0) _exit(126);
    if (user != 0 && (setgroups(0, nullptr) != 0 || setgid(user) != 0 || setuid(user) != 0)) _exit(126);
    if (chdir(folder.c_str()) != 0) _exit(126);
    if (stopAt > 0) {
        setenv("LD_PRELOAD", Env("ORVAN_STOP_SHIM"), 1);
        setenv("ORVAN_STOP_FOLDER", folder.c_str(), 1);
        setenv("ORVAN_STOP_AT_STEP", std::to_string(stopAt).c_str(), 1);
    }
    if (fileLimit > 0) {
        const struct rlimit limit = {fileLimit, fileLimit};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
    }
    execl(Env("ORVANHOST"), "orvanhost", "--module", Env("ORVAN_MODULE"), script.c_str(), nullptr);
    _exit(127);
}

HostRun WaitHost(pid_t child, const std::string& script, int seconds) {
    HostRun run;
    if (child < 0) {
        run.err = "cannot fork";
        return run;
    }
    int status = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        const pid_t ended = waitpid(child, &status, seconds > 0 ? WNOHANG : 0);
        if (ended == child) break;
        if (ended < 0 && errno != EINTR) break;
        if (ended == 0 && std::chrono::steady_clock::now() > end) {
            run.timedOut = true;
            kill(child, SIGKILL);
            seconds = 0;
        } else if (ended == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    run.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadAll(script + ".stdout");
    run.err = ReadAll(script + ".stderr");
    return run;
}

HostRun RunHost(const std::string& script, const std::string& folder, long stopAt, rlim_t fileLimit) {
    return WaitHost(StartHost(script, folder, stopAt, fileLimit), script);
}
