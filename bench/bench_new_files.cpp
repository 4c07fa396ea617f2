// N saves of new 4 MB files at once, one thread each, as a save does them
// (the file's lock, then the replace): all into one folder, then each into
// a folder of its own, in every iteration. Saves of different files wait
// for none, so the ratio of the two times should be near 1.
// The folders go under $ORVAN_BENCH_FOLDER (/tmp when not set).

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "file_replace/file_lock.h"
#include "file_replace/replace_file.h"

namespace {

namespace fs = std::filesystem;

// Seconds for one save of each file, all at once; false when one failed.
bool SaveAll(const std::vector<std::string>& files, const std::string& bytes, double& seconds) {
    std::vector<char> saved(files.size(), 0);
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (std::size_t k = 0; k < files.size(); ++k)
        threads.emplace_back([&, k] {
            FileReplace::FileLock lock;
            const bool absent = lock.Acquire(files[k].c_str()) == FileReplace::FileLock::State::Absent;
            FileReplace::Outcome outcome;
            saved[k] = FileReplace::ReplaceFile(files[k], bytes.data(), bytes.size(), outcome,
                                                absent ? FileReplace::Existing::Keep : FileReplace::Existing::Replace);
        });
    for (std::thread& t : threads) t.join();
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (const std::string& file : files) fs::remove(file);
    for (char s : saved)
        if (!s) return false;
    return true;
}

void BM_NewFilesOneFolderAgainstOwnFolders(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const char* under = std::getenv("ORVAN_BENCH_FOLDER");
    const fs::path root = fs::path(under != nullptr ? under : "/tmp") / ("bench_new_files_" + std::to_string(getpid()));
    std::vector<std::string> shared, own;
    for (int k = 0; k < n; ++k) {
        fs::create_directories(root / "shared");
        fs::create_directories(root / std::to_string(k));
        shared.push_back((root / "shared" / ("f" + std::to_string(k) + ".tif")).string());
        own.push_back((root / std::to_string(k) / "f.tif").string());
    }
    const std::string bytes(4 << 20, 'x');
    double oneFolder = 0, ownFolders = 0;
    for (auto _ : state) {
        double one = 0, apart = 0;
        if (!SaveAll(shared, bytes, one) || !SaveAll(own, bytes, apart)) {
            state.SkipWithError("a save failed");
            break;
        }
        oneFolder += one;
        ownFolders += apart;
    }
    fs::remove_all(root);
    const double iterations = static_cast<double>(state.iterations());
    state.counters["one_folder_ms"] = iterations > 0 ? 1e3 * oneFolder / iterations : 0;
    state.counters["own_folders_ms"] = iterations > 0 ? 1e3 * ownFolders / iterations : 0;
    state.counters["ratio"] = ownFolders > 0 ? oneFolder / ownFolders : 0;
}

}  // namespace

BENCHMARK(BM_NewFilesOneFolderAgainstOwnFolders)->Arg(8)->Arg(32)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
