// Writes compound documents for the independent-reader checks.
//   cf_writer SCENARIO OUTPUT.cfb MANIFEST.txt
// The manifest lists what the document must hold, one item a line:
//   D <tab> path              a storage
//   S <tab> path <tab> size <tab> seed   a stream whose byte i is Pattern(seed, i)
// Paths use '/' between components, as the reader's listing does.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "compound_file/compound_file.h"
#include "tests/compound_file/variant_document.h"

using CompoundFiles::CompoundFile;

namespace {

unsigned char Pattern(std::uint32_t seed, std::uint64_t i) {
    return static_cast<unsigned char>((i * 31u + seed * 17u + (i >> 8) + (i >> 16) * 7u) & 0xFFu);
}

std::vector<unsigned char> Bytes(std::uint64_t size, std::uint32_t seed) {
    std::vector<unsigned char> v(size);
    for (std::uint64_t i = 0; i < size; ++i) v[i] = Pattern(seed, i);
    return v;
}

struct Writer {
    CompoundFile file;
    std::map<std::string, std::pair<std::uint64_t, std::uint32_t>> streams;
    std::map<std::string, bool> storages;
    bool ok = true;

    static std::string Backslashed(const std::string& path) {
        std::string p = "\\" + path;
        for (char& c : p)
            if (c == '/') c = '\\';
        return p;
    }
    void Check(int code, const char* what, const std::string& path) {
        if (code != CompoundFiles::kDone) {
            std::fprintf(stderr, "%s %s: code %d\n", what, path.c_str(), code);
            ok = false;
        }
    }
    void Dir(const std::string& path) {
        Check(file.MakeDirectory(Backslashed(path).c_str()), "MakeDirectory", path);
        storages[path] = true;
    }
    void Put(const std::string& path, std::uint64_t size, std::uint32_t seed) {
        if (!streams.count(path)) Check(file.MakeFile(Backslashed(path).c_str()), "MakeFile", path);
        std::vector<unsigned char> data = Bytes(size, seed);
        Check(file.WriteFile(Backslashed(path).c_str(), data, data.size()), "WriteFile", path);
        streams[path] = {size, seed};
    }
    void Remove(const std::string& path) {
        Check(file.RemoveFile(Backslashed(path).c_str()), "RemoveFile", path);
        streams.erase(path);
    }
    void Tree(const std::string& path) {
        Check(file.DelTree(Backslashed(path).c_str()), "DelTree", path);
        const std::string prefix = path + "/";
        for (auto it = streams.begin(); it != streams.end();)
            it = it->first.compare(0, prefix.size(), prefix) == 0 ? streams.erase(it) : std::next(it);
        for (auto it = storages.begin(); it != storages.end();)
            it = (it->first == path || it->first.compare(0, prefix.size(), prefix) == 0) ? storages.erase(it)
                                                                                         : std::next(it);
    }
};

void Sizes(Writer& w) {
    const std::uint64_t sizes[] = {0,   1,    63,   64,   65,   100,           511,    512,
                                   513, 4095, 4096, 4097, 5000, 39 * 512 + 32, 100000, 1 << 20};
    w.Dir("A");
    w.Dir("A/B");
    std::uint32_t seed = 1;
    for (std::uint64_t s : sizes) {
        w.Put("s" + std::to_string(s), s, seed++);
        w.Put("A/a" + std::to_string(s), s, seed++);
        w.Put("A/B/b" + std::to_string(s), s, seed++);
    }
}

void Large(Writer& w) {
    // Past 109 table sectors: the table is continued through extension sectors.
    w.Put("Workbook", 10u << 20, 7);
    w.Put("small", 3000, 8);
    w.Dir("D");
    w.Put("D/mid", 300000, 9);
}

void Deep(Writer& w) {
    // More than 109 + 128 table sectors: the extension table needs a second
    // sector, chained from the first.
    w.Put("Workbook", 30500u * 512u + 77u, 11);
    w.Put("after", 70000, 12);
}

// The document just written, reopened by this project: every stream reads
// back its pattern.
bool Reread(const char* path, const Writer& w) {
    CompoundFile again;
    if (!again.Open(path, std::ios_base::in)) return false;
    bool same = true;
    for (const auto& s : w.streams) {
        std::vector<char> bytes;
        const std::string p = Writer::Backslashed(s.first);
        if (again.ReadFile(p.c_str(), bytes) != CompoundFiles::kDone || bytes.size() != s.second.first) {
            same = false;
            continue;
        }
        for (std::uint64_t i = 0; i < bytes.size() && same; ++i)
            same = static_cast<unsigned char>(bytes[i]) == Pattern(s.second.second, i);
    }
    again.Close();
    return same;
}

void Churn(Writer& w) {
    w.Dir("X");
    w.Dir("X/Y");
    for (std::uint32_t i = 0; i < 12; ++i) w.Put("X/s" + std::to_string(i), 200 + 700 * i, i + 1);
    w.Put("X/Y/big", 3u << 20, 50);
    w.Put("X/s3", 9000, 51);      // small to big
    w.Put("X/s8", 100, 52);       // big to small
    w.Put("X/Y/big", 5000, 53);   // big shrinks
    w.Put("X/s0", 8u << 20, 54);  // small to very big
    w.Put("X/s0", 4095, 55);      // very big to small
    w.Remove("X/s5");
    w.Put("X/s11", 0, 56);  // emptied
    w.Dir("Z");
    w.Put("Z/keep", 12345, 57);
    w.Put("Z/gone", 54321, 58);
    w.Tree("X/Y");
    w.Put("X/s1", 7u << 20, 59);
    w.Put("X/s1", 64, 60);
    w.Remove("Z/gone");
}

void Many(Writer& w) {
    // Enough small streams for several small-block table sectors.
    for (std::uint32_t i = 0; i < 150; ++i) w.Put("m" + std::to_string(i), (i * 97) % 4000 + 1, i);
    w.Dir("S");
    for (std::uint32_t i = 0; i < 40; ++i) w.Put("S/n" + std::to_string(i), 64 * (i + 1), 1000 + i);
    for (std::uint32_t i = 0; i < 150; i += 3) w.Remove("m" + std::to_string(i));
    for (std::uint32_t i = 1; i < 150; i += 3) w.Put("m" + std::to_string(i), 10, 2000 + i);
}

std::vector<unsigned char> PatternBytes(std::size_t size, std::uint32_t seed) { return Bytes(size, seed); }

// A document in the other extension form, opened and changed: what is
// written back must be the published form.
bool Variant(Writer& w, const char* output) {
    const cftest::VariantDocument v = cftest::MakeVariantDocument(&PatternBytes);
    {
        std::ofstream out(output, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(v.bytes.data()), static_cast<std::streamsize>(v.bytes.size()));
    }
    if (!w.file.Open(output)) return false;
    w.streams["Big"] = {v.big.size(), 77};
    w.streams["Tiny"] = {v.tiny.size(), 78};
    w.Put("Added", 3000, 79);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s sizes|large|deep|churn|many|variant OUTPUT MANIFEST\n", argv[0]);
        return 2;
    }
    const std::string scenario = argv[1];
    const std::map<std::string, void (*)(Writer&)> scenarios = {
        {"sizes", &Sizes}, {"large", &Large}, {"churn", &Churn}, {"many", &Many}, {"deep", &Deep}};
    Writer w;
    if (scenario == "variant") {
        if (!Variant(w, argv[2])) {
            std::fprintf(stderr, "cannot open %s\n", argv[2]);
            return 1;
        }
    } else if (scenarios.count(scenario) == 0) {
        std::fprintf(stderr, "unknown scenario %s\n", scenario.c_str());
        return 2;
    } else if (!w.file.Create(argv[2])) {
        std::fprintf(stderr, "cannot create %s\n", argv[2]);
        return 1;
    } else {
        scenarios.at(scenario)(w);
    }
    w.file.Close();
    if (!Reread(argv[2], w)) {
        std::fprintf(stderr, "%s: the document does not read back\n", scenario.c_str());
        return 1;
    }
    std::ofstream out(argv[3]);
    for (auto& d : w.storages) out << "D\t" << d.first << "\n";
    for (auto& s : w.streams) out << "S\t" << s.first << "\t" << s.second.first << "\t" << s.second.second << "\n";
    return w.ok ? 0 : 1;
}
