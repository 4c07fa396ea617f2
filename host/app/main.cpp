// dmhost [--module PATH] [--stdout FILE] [--host-version X.Y.Z] SCRIPT
//
// Loads the plug-in module as the host would, runs SCRIPT, and shows the
// Results window on standard output. The module's own standard output
// (diagnostics, fit traces) is discarded, or kept in FILE.
// Exit status: 0 success, 1 script or host error, 2 bad command line.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "host/app/host.h"
#include "host/app/script_interpreter.h"

namespace {

int Usage(const std::string &why) {
    std::cerr << "dmhost: " << why << "\n"
              << "usage: dmhost [--module PATH] [--stdout FILE] [--host-version X.Y.Z] SCRIPT\n";
    return 2;
}

// "3.10.0" -> 0x030A0000; false when the text is not three numbers 0..255.
bool ParseVersion(const std::string &text, uint32_t *word) {
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

}  // namespace

int main(int argc, char **argv) {
    std::string module, stdout_file, script_path;
    uint32_t version = dmhost::Host::kDefaultVersion;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](std::string *dst) {
            if (i + 1 >= argc) return false;
            *dst = argv[++i];
            return true;
        };
        if (a == "--module") {
            if (!value(&module)) return Usage("--module needs a path");
        } else if (a == "--stdout") {
            if (!value(&stdout_file)) return Usage("--stdout needs a file");
        } else if (a == "--host-version") {
            std::string v;
            if (!value(&v) || !ParseVersion(v, &version)) return Usage("--host-version needs X.Y.Z");
        } else if (a.size() > 1 && a[0] == '-') {
            return Usage("unknown option " + a);
        } else if (script_path.empty()) {
            script_path = a;
        } else {
            return Usage("one script only");
        }
    }
    if (script_path.empty()) return Usage("no script given");
    if (module.empty()) module = ModuleBesideProgram();

    std::ifstream in(script_path, std::ios::binary);
    if (!in) {
        std::cerr << script_path << ": cannot read the script\n";
        return 1;
    }
    std::stringstream source;
    source << in.rdbuf();

    // The Results window keeps the real standard output; file descriptor 1,
    // where the module's own output goes, is redirected.
    std::fflush(stdout);
    int results_fd = dup(1);
    FILE *results = results_fd >= 0 ? fdopen(results_fd, "w") : nullptr;
    if (!results) {
        std::cerr << "dmhost: cannot duplicate standard output\n";
        return 1;
    }
    int sink = stdout_file.empty() ? open("/dev/null", O_WRONLY)
                                   : open(stdout_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (sink < 0) {
        std::cerr << "dmhost: cannot write " << stdout_file << "\n";
        return 1;
    }
    dup2(sink, 1);
    close(sink);

    int status = 0;
    {
        dmhost::Host host;
        host.SetVersion(version);
        host.SetResultsSink([results](std::string_view t) {
            std::fwrite(t.data(), 1, t.size(), results);
            std::fflush(results);
        });
        host.KeepResults(false);
        try {
            dmhost::StmtList script = dmhost::Parse(dmhost::Scan(source.str()));
            try {
                host.LoadModule(module);
            } catch (const std::exception &e) {
                throw dmhost::ScriptError{0, e.what()};
            }
            dmhost::Interpreter(host).Run(script);
        } catch (const dmhost::ScriptError &e) {
            std::cout.flush();
            std::cerr << script_path;
            if (e.line > 0) std::cerr << ":" << e.line;
            std::cerr << ": " << e.message << "\n";
            status = 1;
        }
        std::cout.flush();
        std::fflush(stdout);
    }
    std::fclose(results);
    return status;
}
