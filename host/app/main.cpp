// orvanhost [--module PATH] [--stdout FILE] [--host-version X.Y.Z] SCRIPT
// orvanhost --help | --version
//
// Loads the plug-in module as the host would, runs SCRIPT, and shows the
// Results window on standard output. The module's own standard output
// (diagnostics, fit traces) is discarded, or kept in FILE.
// Exit status: 0 success (and --help, --version), 1 script or host error
// (out of memory too), 2 bad command line.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <new>
#include <string>

#include "host/app/host.h"
#include "host/script/interpreter.h"

namespace {

const char kUsage[] =
    "usage: orvanhost [--module PATH] [--stdout FILE] [--host-version X.Y.Z] SCRIPT\n"
    "       orvanhost --help | --version\n";

struct Options {
    std::string module, stdout_file, script_path;
    uint32_t version = orvanhost::HostProgram::kDefaultVersion;
};

int Usage(const std::string& why) {
    std::cerr << "orvanhost: " << why << "\n" << kUsage;
    return 2;
}

std::string VersionText(uint32_t word) {
    return std::to_string(word >> 24) + "." + std::to_string((word >> 16) & 0xff) + "." +
           std::to_string((word >> 8) & 0xff);
}

int Help() {
    std::cout << "orvanhost runs a script with the plug-in module, standing in for its image host.\n"
              << kUsage
              << "  --module PATH         the module to load (default: orvantools.so beside orvanhost)\n"
                 "  --stdout FILE         keep the module's own standard output in FILE\n"
                 "  --host-version X.Y.Z  the host version reported to the module (default: "
              << VersionText(orvanhost::HostProgram::kDefaultVersion)
              << ", the oldest\n"
                 "                        the module accepts)\n"
                 "  --help, -h            print this text\n"
                 "  --version             print the host version reported to the module\n";
    return 0;
}

// "3.10.0" -> 0x030A0000; false when the text is not three numbers 0..255.
bool ParseVersion(const std::string& text, uint32_t* word) {
    unsigned a, b, c;
    char tail;
    if (std::sscanf(text.c_str(), "%u.%u.%u%c", &a, &b, &c, &tail) != 3) return false;
    if (a > 255 || b > 255 || c > 255) return false;
    *word = (a << 24) | (b << 16) | (c << 8);
    return true;
}

std::string ModuleBesideProgram() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "orvantools.so";
    std::string exe(buf, static_cast<size_t>(n));
    size_t slash = exe.find_last_of('/');
    return (slash == std::string::npos ? std::string(".") : exe.substr(0, slash)) + "/orvantools.so";
}

// Fills *o from the command line. Returns the exit status when orvanhost is to
// stop here (help, version, a bad command line), -1 to run the script.
int ParseCommandLine(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](std::string* dst) {
            if (i + 1 >= argc) return false;
            *dst = argv[++i];
            return true;
        };
        if (a == "--help" || a == "-h") {
            return Help();
        } else if (a == "--version") {
            std::cout << "orvanhost " << VersionText(o->version) << "\n";
            return 0;
        } else if (a == "--module") {
            if (!value(&o->module)) return Usage("--module needs a path");
        } else if (a == "--stdout") {
            if (!value(&o->stdout_file)) return Usage("--stdout needs a file");
        } else if (a == "--host-version") {
            std::string v;
            if (!value(&v) || !ParseVersion(v, &o->version)) return Usage("--host-version needs X.Y.Z");
        } else if (a.size() > 1 && a[0] == '-') {
            return Usage("unknown option " + a);
        } else if (o->script_path.empty()) {
            o->script_path = a;
        } else {
            return Usage("one script only");
        }
    }
    if (o->script_path.empty()) return Usage("no script given");
    if (o->module.empty()) o->module = ModuleBesideProgram();
    return -1;
}

bool CannotRead(const std::string& path, int error) {
    std::cerr << path << ": cannot read the script: " << std::strerror(error) << "\n";
    return false;
}

// The whole script or nothing: a folder, a file that may not be read, or a
// read that fails midway names the cause, and none of the script runs.
// Plain reads, as streams turn a failed read into an exception
// or into a script cut short.
bool ReadScript(const std::string& path, std::string* source) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return CannotRead(path, errno);
    char buf[1 << 16];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            close(fd);
            return CannotRead(path, error);
        }
        try {
            source->append(buf, static_cast<size_t>(n));
        } catch (...) {
            close(fd);
            throw;
        }
    }
    close(fd);
    return true;
}

// The Results window keeps the real standard output, returned as a stream;
// file descriptor 1, where the module's own output goes, is redirected to
// stdout_file or discarded. Null (after a message) on failure.
FILE* SeparateModuleOutput(const std::string& stdout_file) {
    std::fflush(stdout);
    int results_fd = dup(1);
    FILE* results = results_fd >= 0 ? fdopen(results_fd, "w") : nullptr;
    if (!results) {
        if (results_fd >= 0) close(results_fd);
        std::cerr << "orvanhost: cannot duplicate standard output\n";
        return nullptr;
    }
    int sink = stdout_file.empty() ? open("/dev/null", O_WRONLY)
                                   : open(stdout_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (sink < 0) {
        std::cerr << "orvanhost: cannot write " << stdout_file << "\n";
        std::fclose(results);
        return nullptr;
    }
    dup2(sink, 1);
    close(sink);
    return results;
}

void ReportScriptError(const std::string& script_path, int line, const std::string& message) {
    std::cout.flush();
    std::cerr << script_path;
    if (line > 0) std::cerr << ":" << line;
    std::cerr << ": " << message << "\n";
}

// Where the Results text goes, and the first write that failed (errno), which
// fails the run: a full disk or a file size limit must not pass for success.
struct ResultsWindow {
    FILE* out;
    int error = 0;

    void Show(std::string_view text) {
        if (error) return;
        errno = 0;
        if (std::fwrite(text.data(), 1, text.size(), out) != text.size() || std::fflush(out) != 0)
            error = errno ? errno : EIO;
    }
};

// Scans, parses and runs the script with the module loaded; the exit status.
// Whatever fails (out of memory included) ends the script with a message;
// the module is unloaded after it.
int RunScript(const Options& o, const std::string& source, ResultsWindow* results) {
    int status = 0;
    {
        orvanhost::HostProgram host;
        try {
            host.SetVersion(o.version);
            host.SetResultsSink([results](std::string_view t) { results->Show(t); });
            host.KeepResults(false);
            orvanhost::StmtList script = orvanhost::Parse(orvanhost::Scan(source));
            try {
                host.LoadModule(o.module);
            } catch (const orvanhost::HostError& e) {
                throw orvanhost::ScriptError{0, orvanhost::Explained(e)};
            } catch (const std::bad_alloc&) {
                throw;
            } catch (const std::exception& e) {
                throw orvanhost::ScriptError{0, e.what()};
            }
            orvanhost::Interpreter(host).Run(script);
        } catch (const orvanhost::ScriptError& e) {
            ReportScriptError(o.script_path, e.line, e.message);
            status = 1;
        } catch (const std::bad_alloc&) {
            ReportScriptError(o.script_path, 0, "out of memory");
            status = 1;
        } catch (const std::exception& e) {
            ReportScriptError(o.script_path, 0, e.what());
            status = 1;
        }
        std::cout.flush();
        std::fflush(stdout);
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    // Beyond the file size limit a write then fails with EFBIG, which the
    // saves refuse cleanly, instead of the signal killing orvanhost half-way
    // through a file.
    std::signal(SIGXFSZ, SIG_IGN);
    Options o;
    try {
        const int stop = ParseCommandLine(argc, argv, &o);
        if (stop >= 0) return stop;
        std::string source;
        if (!ReadScript(o.script_path, &source)) return 1;
        ResultsWindow results{SeparateModuleOutput(o.stdout_file)};
        if (!results.out) return 1;
        int status = RunScript(o, source, &results);
        if (std::fclose(results.out) != 0 && !results.error) results.error = errno;
        if (results.error) {
            ReportScriptError(o.script_path, 0,
                              std::string("cannot write the Results window: ") + std::strerror(results.error));
            status = 1;
        }
        return status;
    } catch (const std::bad_alloc&) {
        if (o.script_path.empty())
            std::cerr << "orvanhost";
        else
            std::cerr << o.script_path;
        std::cerr << ": out of memory\n";
        return 1;
    }
}
