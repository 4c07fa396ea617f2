// Opens arbitrary bytes as a compound document and reads every stream; a
// document that opens is then changed, and must reopen with every stream it
// did not change intact.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "compound_file/compound_file.h"

using CompoundFiles::CompoundFile;
using CompoundFiles::kDone;

namespace {

const std::string& ScratchPath() {
    static const std::string path = "/tmp/fuzz_compound_file." + std::to_string(::getpid()) + ".cfb";
    return path;
}

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// Every stream reachable by path, with its content.
std::map<std::wstring, std::vector<unsigned char>> ReadAll(CompoundFile& doc) {
    std::map<std::wstring, std::vector<unsigned char>> streams;
    std::vector<std::wstring> storages{L""};
    for (std::size_t i = 0; i < storages.size() && i < 256; ++i) {
        std::vector<std::vector<wchar_t>> names;
        const std::wstring dir = storages[i].empty() ? L"\\" : storages[i];
        if (doc.ListDirectory(names, dir.c_str()) != kDone) continue;
        for (const auto& n : names) {
            const std::wstring path = storages[i] + L"\\" + std::wstring(n.data());
            std::vector<unsigned char> data;
            std::uint64_t size = 0;
            if (doc.FileSize(path.c_str(), size) == kDone) {
                if (doc.ReadFile(path.c_str(), data) == kDone) {
                    Require(data.size() == size, "read size equals stream size");
                    streams.emplace(path, std::move(data));
                }
            } else {
                storages.push_back(path);
            }
        }
    }
    std::vector<unsigned char> store;
    doc.ReadFile(L"\\", store);
    return streams;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    {
        std::ofstream out(ScratchPath(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    CompoundFile doc;
    if (!doc.Open(ScratchPath().c_str(), std::ios::in | std::ios::out)) return 0;
    auto streams = ReadAll(doc);

    // Change the document: a big and a small new stream, the first stream
    // halved, the big new one removed again.
    const std::vector<unsigned char> big(5000, 0xB5), small(100, 0x5A);
    const bool madeBig = doc.MakeFile(L"\\fuzz big") == kDone;
    const bool madeSmall = doc.MakeFile(L"\\fuzz small") == kDone;
    if (madeBig) Require(doc.WriteFile(L"\\fuzz big", big, big.size()) == kDone, "big write");
    if (madeSmall) Require(doc.WriteFile(L"\\fuzz small", small, small.size()) == kDone, "small write");
    if (!streams.empty()) {
        auto& first = *streams.begin();
        first.second.resize(first.second.size() / 2);
        Require(doc.WriteFile(first.first.c_str(), first.second, first.second.size()) == kDone, "rewrite");
    }
    if (madeBig) Require(doc.RemoveFile(L"\\fuzz big") == kDone, "remove");
    if (madeSmall) streams[L"\\fuzz small"] = small;
    doc.Close();

    Require(doc.Open(ScratchPath().c_str(), std::ios::in | std::ios::out), "changed document reopens");
    for (const auto& s : streams) {
        std::vector<unsigned char> back;
        Require(doc.ReadFile(s.first.c_str(), back) == kDone, "stream still there");
        Require(back == s.second, "stream content kept");
    }
    std::uint64_t ignored = 0;
    Require(!madeBig || doc.FileSize(L"\\fuzz big", ignored) != kDone, "removed stream gone");
    return 0;
}
