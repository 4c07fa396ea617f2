// Storage engine: allocation tables, chains, stream data, and the compact-file
// renumbering that follows every insertion or removal of sectors.
#include <algorithm>
#include <cstring>
#include <limits>

#include "compound_file/compound_file.h"
#include "compound_file/little_endian.h"

namespace CompoundFiles {

// Registers a vector of block numbers so that renumbering keeps it current
// while blocks are inserted or cut out under it.
class CompoundFile::Pin {
public:
    Pin(std::vector<std::vector<std::uint64_t>*>& list, std::vector<std::uint64_t>* chain) : list_(list) {
        list_.push_back(chain);
    }
    ~Pin() { list_.pop_back(); }
    Pin(const Pin&) = delete;
    Pin& operator=(const Pin&) = delete;

private:
    std::vector<std::vector<std::uint64_t>*>& list_;
};

namespace {

std::uint64_t DifatSectorsNeeded(std::uint64_t batSectors) {
    if (batSectors <= kHeaderBatSlots) return 0;
    return (batSectors - kHeaderBatSlots + 126) / 127;
}

// Number of list entries below v (list sorted).
std::uint64_t CountBelow(const std::vector<std::uint64_t>& sorted, std::uint64_t v) {
    return static_cast<std::uint64_t>(std::lower_bound(sorted.begin(), sorted.end(), v) - sorted.begin());
}

// Number of list entries at or below v (list sorted).
std::uint64_t CountAtOrBelow(const std::vector<std::uint64_t>& sorted, std::uint64_t v) {
    return static_cast<std::uint64_t>(std::upper_bound(sorted.begin(), sorted.end(), v) - sorted.begin());
}

// Cuts the entries of the listed blocks out of a table: links through them
// are bypassed, their entries removed (free entries appended in their place)
// and every link above a removed block lowered by the removed blocks below it.
void CutTableEntries(std::vector<std::int32_t>& table, const std::vector<std::uint64_t>& sorted) {
    const std::uint64_t n = table.size();
    std::vector<bool> cut(n, false);
    for (std::uint64_t b : sorted)
        if (b < n) cut[b] = true;
    // Where a link into the cut blocks leads, found once per cut block; a
    // loop among them ends the chain.
    const std::int32_t unresolved = std::numeric_limits<std::int32_t>::min();
    const std::int32_t visiting = unresolved + 1;
    std::vector<std::int32_t> through(n, unresolved);
    auto isCut = [&](std::int32_t v) {
        return v >= 0 && static_cast<std::uint64_t>(v) < n && cut[static_cast<std::uint64_t>(v)];
    };
    std::vector<std::uint64_t> path;
    auto resolve = [&](std::int32_t v) {
        path.clear();
        while (isCut(v)) {
            const std::uint64_t u = static_cast<std::uint64_t>(v);
            if (through[u] == visiting) {
                v = kEndOfChain;
                break;
            }
            if (through[u] != unresolved) {
                v = through[u];
                break;
            }
            through[u] = visiting;
            path.push_back(u);
            v = table[u];
        }
        for (std::uint64_t u : path) through[u] = v;
        return v;
    };
    for (std::uint64_t i = 0; i < n; ++i)
        if (!cut[i] && isCut(table[i])) table[i] = resolve(table[i]);
    std::uint64_t w = 0;
    for (std::uint64_t i = 0; i < n; ++i)
        if (!cut[i]) table[w++] = table[i];
    std::fill(table.begin() + static_cast<std::ptrdiff_t>(w), table.end(), kFreeBlock);
    for (std::int32_t& v : table)
        if (v >= 0)
            v = static_cast<std::int32_t>(static_cast<std::uint64_t>(v) -
                                          CountBelow(sorted, static_cast<std::uint64_t>(v)));
}

}  // namespace

std::uint64_t CompoundFile::FileSectors() const {
    const std::uint64_t blocks = file_.BlockCount();
    return blocks == 0 ? 0 : blocks - 1;
}

void CompoundFile::ReadSector(std::uint64_t sector, unsigned char* buffer) {
    if (!file_.Read(sector + 1, buffer)) {
        std::memset(buffer, 0, kBlockSize);
        Fail();
    }
}

void CompoundFile::WriteSector(std::uint64_t sector, const unsigned char* buffer) {
    if (!file_.Write(sector + 1, buffer)) Fail();
}

bool CompoundFile::LoadHeader() {
    blockBuffer_.assign(kHeaderSize, 0);
    if (file_.FileSize() < kHeaderSize) return false;
    if (!file_.Read(0, blockBuffer_.data())) return false;
    header_.Read(blockBuffer_.data());
    if (header_.signature != kSignature) return false;
    // Tables and directory are laid out for 512-byte sectors and 64-byte
    // small blocks with the fixed 4096-byte cut-off; anything else is not
    // read as if it were.
    if (header_.blockSize != kBlockSize || header_.smallBlockSize != kSmallBlockSize) return false;
    if (header_.smallStreamCutoff != kSmallStreamCutoff) return false;
    blockBuffer_.resize(header_.blockSize);
    file_.SetBlockSize(header_.blockSize);
    return true;
}

void CompoundFile::SaveHeader() {
    header_.batCount = static_cast<std::uint32_t>(batSectors_.size());
    for (std::uint32_t i = 0; i < kHeaderBatSlots; ++i)
        header_.batSlots[i] = i < batSectors_.size() ? static_cast<std::int32_t>(batSectors_[i]) : kFreeBlock;
    header_.xbatStart = difatSectors_.empty() ? kEndOfChain : static_cast<std::int32_t>(difatSectors_[0]);
    header_.xbatCount = static_cast<std::uint32_t>(difatSectors_.size());
    header_.sbatStart = sbatSectors_.empty() ? kEndOfChain : static_cast<std::int32_t>(sbatSectors_[0]);
    header_.sbatCount = static_cast<std::uint32_t>(sbatSectors_.size());
    std::vector<unsigned char> block(kBlockSize, 0);
    header_.Write(block.data());
    if (!file_.Write(0, block.data())) Fail();
}

void CompoundFile::LinkTableChain(const std::vector<std::uint64_t>& sectors) {
    for (std::size_t i = 0; i < sectors.size(); ++i)
        if (sectors[i] < bat_.size())
            bat_[sectors[i]] = i + 1 < sectors.size() ? static_cast<std::int32_t>(sectors[i + 1]) : kEndOfChain;
}

void CompoundFile::SaveBAT() {
    // Keep the table's own sectors marked and the small-block table chained,
    // so that readers following the table find every run.
    for (std::uint64_t s : batSectors_)
        if (s < bat_.size()) bat_[s] = kBatBlock;
    for (std::uint64_t s : difatSectors_)
        if (s < bat_.size()) bat_[s] = kDifatBlock;
    LinkTableChain(sbatSectors_);

    unsigned char* b = blockBuffer_.data();
    for (std::size_t j = 0; j < batSectors_.size(); ++j) {
        for (std::uint64_t i = 0; i < kEntriesPerBlock; ++i) {
            const std::uint64_t k = j * kEntriesPerBlock + i;
            LittleEndian::Write(b, k < bat_.size() ? bat_[k] : kFreeBlock, 4 * i, 4);
        }
        WriteSector(batSectors_[j], b);
    }
    for (std::size_t d = 0; d < difatSectors_.size(); ++d) {
        for (std::uint64_t i = 0; i < kDifatEntriesPerBlock; ++i) {
            const std::uint64_t k = kHeaderBatSlots + d * kDifatEntriesPerBlock + i;
            const std::int32_t v = k < batSectors_.size() ? static_cast<std::int32_t>(batSectors_[k]) : kFreeBlock;
            LittleEndian::Write(b, v, 4 * i, 4);
        }
        const std::int32_t next =
            d + 1 < difatSectors_.size() ? static_cast<std::int32_t>(difatSectors_[d + 1]) : kEndOfChain;
        LittleEndian::Write(b, next, 4 * kDifatEntriesPerBlock, 4);
        WriteSector(difatSectors_[d], b);
    }
    for (std::size_t j = 0; j < sbatSectors_.size(); ++j) {
        for (std::uint64_t i = 0; i < kEntriesPerBlock; ++i) {
            const std::uint64_t k = j * kEntriesPerBlock + i;
            LittleEndian::Write(b, k < sbat_.size() ? sbat_[k] : kFreeBlock, 4 * i, 4);
        }
        WriteSector(sbatSectors_[j], b);
    }
}

void CompoundFile::ChainBlocks(std::uint64_t start, std::vector<std::uint64_t>& chain, bool big) const {
    chain.clear();
    const std::vector<std::int32_t>& table = Table(big);
    std::uint64_t b = start;
    // At most one step per table entry, so a damaged table cannot loop.
    while (b < table.size() && chain.size() < table.size()) {
        chain.push_back(b);
        const std::int32_t next = table[b];
        if (next < 0) break;
        b = static_cast<std::uint64_t>(next);
    }
}

std::uint64_t CompoundFile::DataSize(std::uint64_t start, bool big) const {
    std::vector<std::uint64_t> chain;
    ChainBlocks(start, chain, big);
    return chain.size() * (big ? kBlockSize : kSmallBlockSize);
}

std::uint64_t CompoundFile::ReadData(std::uint64_t start, unsigned char* buffer, bool big) {
    std::vector<std::uint64_t> chain;
    ChainBlocks(start, chain, big);
    if (big) {
        // Consecutive sectors are read in one go.
        std::size_t i = 0;
        while (i < chain.size()) {
            std::size_t j = i + 1;
            while (j < chain.size() && chain[j] == chain[j - 1] + 1) ++j;
            if (!file_.ReadRun(chain[i] + 1, j - i, buffer + kBlockSize * i)) {
                std::memset(buffer + kBlockSize * i, 0, kBlockSize * (j - i));
                Fail();
            }
            i = j;
        }
        return kBlockSize * chain.size();
    }
    const DirectoryEntry& root = *entries_[0];
    std::vector<unsigned char> mini(
        DataSize(static_cast<std::uint64_t>(static_cast<std::int64_t>(root.startBlock)), true));
    ReadData(static_cast<std::uint64_t>(static_cast<std::int64_t>(root.startBlock)), mini.data(), true);
    for (std::size_t i = 0; i < chain.size(); ++i) {
        const std::uint64_t at = kSmallBlockSize * chain[i];
        if (at + kSmallBlockSize <= mini.size())
            std::memcpy(buffer + kSmallBlockSize * i, mini.data() + at, kSmallBlockSize);
        else
            std::memset(buffer + kSmallBlockSize * i, 0, kSmallBlockSize);
    }
    return kSmallBlockSize * chain.size();
}

std::uint64_t CompoundFile::AllocateBlock(bool big) {
    std::vector<std::int32_t>& table = Table(big);
    std::uint64_t& from = big ? batSearchFrom_ : sbatSearchFrom_;
    for (;;) {
        for (std::uint64_t i = from; i < table.size(); ++i) {
            if (table[i] == kFreeBlock) {
                table[i] = kEndOfChain;
                from = i + 1;
                return i;
            }
        }
        from = table.size();
        ExpandTable(big);
    }
}

void CompoundFile::SetEntry(std::uint64_t index, std::int32_t value, bool big) {
    std::vector<std::int32_t>& table = Table(big);
    if (index < table.size()) table[index] = value;
}

void CompoundFile::ExpandTable(bool big) {
    const std::vector<unsigned char> empty(kBlockSize, 0xFF);
    if (big) {
        // The new table sector is the first one the table does not describe
        // yet: the end of the used sectors in a compact file. Sectors at or
        // past it are described by nothing, so nothing refers to them.
        const std::uint64_t p = bat_.size();
        WriteSector(p, empty.data());
        bat_.push_back(kBatBlock);
        bat_.insert(bat_.end(), kEntriesPerBlock - 1, kFreeBlock);
        batSectors_.push_back(p);
        EnsureDifatSectors();
        return;
    }
    if (sbatSectors_.empty()) {
        const std::uint64_t p = AllocateBlock(true);
        WriteSector(p, empty.data());
        sbatSectors_.push_back(p);
    } else {
        // Later small-table sectors go right behind the run, cut into the
        // file, and are chained from the sector before them.
        const std::uint64_t p = sbatSectors_.back() + 1;
        InsertSector(p, empty.data(), kEndOfChain);
        SetEntry(sbatSectors_.back(), static_cast<std::int32_t>(p), true);
        sbatSectors_.push_back(p);
    }
    sbat_.insert(sbat_.end(), kEntriesPerBlock, kFreeBlock);
}

void CompoundFile::EnsureDifatSectors() {
    const std::vector<unsigned char> empty(kBlockSize, 0xFF);
    while (difatSectors_.size() < DifatSectorsNeeded(batSectors_.size())) {
        const std::uint64_t d = AllocateBlock(true);
        bat_[d] = kDifatBlock;
        WriteSector(d, empty.data());
        difatSectors_.push_back(d);
    }
}

void CompoundFile::InsertSector(std::uint64_t sector, const unsigned char* buffer, std::int32_t marker) {
    // The table entry of the last sector falls off the end, so it must be free.
    if (bat_.empty() || bat_.back() != kFreeBlock) ExpandTable(true);
    RenumberAfterInsert({sector});
    if (sector <= bat_.size()) {
        bat_.insert(bat_.begin() + static_cast<std::ptrdiff_t>(sector), marker);
        bat_.pop_back();
    }
    if (!file_.Insert(sector + 1, buffer)) Fail();
    batSearchFrom_ = 0;
}

void CompoundFile::RenumberStored(const std::vector<std::uint64_t>& sorted, bool erase) {
    auto adjust = [&](std::uint64_t v) { return erase ? v - CountBelow(sorted, v) : v + CountAtOrBelow(sorted, v); };
    auto adjust32 = [&](std::int32_t& v) {
        if (v >= 0) v = static_cast<std::int32_t>(adjust(static_cast<std::uint64_t>(v)));
    };
    for (std::uint64_t& s : batSectors_) s = adjust(s);
    for (std::uint64_t& s : difatSectors_) s = adjust(s);
    for (std::uint64_t& s : sbatSectors_) s = adjust(s);
    adjust32(header_.directoryStart);
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        DirectoryEntry& e = *entries_[i];
        if (i == 0 || (e.type == kTypeStream && e.size >= kSmallStreamCutoff)) adjust32(e.startBlock);
    }
    for (std::vector<std::uint64_t>* chain : pinnedSectors_)
        for (std::uint64_t& s : *chain) s = adjust(s);
}

void CompoundFile::RenumberAfterInsert(const std::vector<std::uint64_t>& sectors) {
    std::vector<std::uint64_t> sorted(sectors);
    std::sort(sorted.begin(), sorted.end());
    RenumberStored(sorted, false);
    for (std::int32_t& v : bat_)
        if (v >= 0)
            v = static_cast<std::int32_t>(static_cast<std::uint64_t>(v) +
                                          CountAtOrBelow(sorted, static_cast<std::uint64_t>(v)));
    batSearchFrom_ = 0;
}

void CompoundFile::RenumberAfterErase(const std::vector<std::uint64_t>& sectors) {
    std::vector<std::uint64_t> sorted(sectors);
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    RenumberStored(sorted, true);
    CutTableEntries(bat_, sorted);
    batSearchFrom_ = 0;
}

void CompoundFile::FreeBlocks(std::vector<std::uint64_t> blocks, bool big) {
    std::sort(blocks.begin(), blocks.end());
    blocks.erase(std::unique(blocks.begin(), blocks.end()), blocks.end());
    if (blocks.empty()) return;
    if (big) {
        FreeSectors(blocks);
    } else {
        CutFromSmallStore(blocks);
        RenumberSmallBlocks(blocks);
        ReleaseSmallTableSectors();
    }
}

void CompoundFile::FreeSectors(const std::vector<std::uint64_t>& sorted) {
    RenumberAfterErase(sorted);
    std::vector<std::uint64_t> fileBlocks(sorted);
    for (std::uint64_t& b : fileBlocks) ++b;
    if (!file_.Erase(fileBlocks)) Fail();
    // Release table sectors that only describe sectors past the end. The
    // tables are renumbered one release at a time, the file is cut once.
    std::vector<std::uint64_t> cutFromFile;  // positions in the file as it is now, sorted
    auto filePosition = [&](std::uint64_t sector) {
        for (std::uint64_t r : cutFromFile) {
            if (r > sector) break;
            ++sector;
        }
        return sector;
    };
    for (;;) {
        const std::uint64_t n = bat_.size();
        const std::uint64_t remaining = FileSectors() - cutFromFile.size();
        if (batSectors_.size() <= 1 || n < kEntriesPerBlock + remaining) break;
        if (!std::all_of(bat_.end() - kEntriesPerBlock, bat_.end(), [](std::int32_t v) { return v == kFreeBlock; }))
            break;
        std::vector<std::uint64_t> released{batSectors_.back()};
        batSectors_.pop_back();
        bat_.resize(n - kEntriesPerBlock);
        if (difatSectors_.size() > DifatSectorsNeeded(batSectors_.size())) {
            released.push_back(difatSectors_.back());
            difatSectors_.pop_back();
        }
        std::vector<std::uint64_t> positions;
        for (std::uint64_t r : released) positions.push_back(filePosition(r));
        RenumberAfterErase(released);
        cutFromFile.insert(cutFromFile.end(), positions.begin(), positions.end());
        std::sort(cutFromFile.begin(), cutFromFile.end());
    }
    if (!cutFromFile.empty()) {
        for (std::uint64_t& b : cutFromFile) ++b;
        if (!file_.Erase(cutFromFile)) Fail();
    }
}

void CompoundFile::CutFromSmallStore(const std::vector<std::uint64_t>& sorted) {
    std::vector<unsigned char> mini = LoadSmallStore();
    std::vector<unsigned char> kept;
    kept.reserve(mini.size());
    for (std::uint64_t b = 0; b * kSmallBlockSize < mini.size(); ++b) {
        if (std::binary_search(sorted.begin(), sorted.end(), b)) continue;
        const std::uint64_t end = std::min<std::uint64_t>(mini.size(), (b + 1) * kSmallBlockSize);
        kept.insert(kept.end(), mini.begin() + static_cast<std::ptrdiff_t>(b * kSmallBlockSize),
                    mini.begin() + static_cast<std::ptrdiff_t>(end));
    }
    const std::uint64_t rootStart = static_cast<std::uint64_t>(static_cast<std::int64_t>(entries_[0]->startBlock));
    const std::uint64_t newStart = WriteData(kept.data(), kept.size(), rootStart, true);
    entries_[0]->startBlock = static_cast<std::int32_t>(static_cast<std::int64_t>(newStart));
    entries_[0]->size = static_cast<std::uint32_t>(kept.size());
}

void CompoundFile::RenumberSmallBlocks(const std::vector<std::uint64_t>& sorted) {
    // Small-block numbers held anywhere follow the cut: the table's links,
    // every small stream's start, and chains being written.
    CutTableEntries(sbat_, sorted);
    for (std::size_t i = 1; i < entries_.size(); ++i) {
        DirectoryEntry& e = *entries_[i];
        if (e.type == kTypeStream && e.size > 0 && e.size < kSmallStreamCutoff && e.startBlock >= 0) {
            const std::uint64_t v = static_cast<std::uint64_t>(e.startBlock);
            e.startBlock = static_cast<std::int32_t>(v - CountBelow(sorted, v));
        }
    }
    for (std::vector<std::uint64_t>* chain : pinnedSmallBlocks_)
        for (std::uint64_t& s : *chain) s -= CountBelow(sorted, s);
    sbatSearchFrom_ = 0;
}

void CompoundFile::ReleaseSmallTableSectors() {
    // Release small-table sectors that only describe blocks past the store.
    std::vector<std::uint64_t> released;
    const std::uint64_t storeBlocks = (entries_[0]->size + kSmallBlockSize - 1) / kSmallBlockSize;
    while (!sbatSectors_.empty() && sbat_.size() >= kEntriesPerBlock + storeBlocks &&
           std::all_of(sbat_.end() - kEntriesPerBlock, sbat_.end(), [](std::int32_t v) { return v == kFreeBlock; })) {
        sbat_.resize(sbat_.size() - kEntriesPerBlock);
        released.push_back(sbatSectors_.back());
        sbatSectors_.pop_back();
    }
    if (!released.empty()) {
        LinkTableChain(sbatSectors_);
        FreeBlocks(released, true);
    }
}

std::uint64_t CompoundFile::WriteData(const unsigned char* data, std::uint64_t size, std::uint64_t start, bool big) {
    if (size == 0 && start == kNoBlock) return kNoBlock;
    return big ? WriteSectors(data, size, start) : WriteSmallBlocks(data, size, start);
}

void CompoundFile::ShortenChain(std::vector<std::uint64_t>& chain, std::uint64_t length, bool big) {
    std::vector<std::uint64_t> tail(chain.begin() + static_cast<std::ptrdiff_t>(length), chain.end());
    chain.resize(length);
    if (!chain.empty()) SetEntry(chain.back(), kEndOfChain, big);
    FreeBlocks(tail, big);
}

void CompoundFile::ExtendChain(std::vector<std::uint64_t>& chain, std::uint64_t length, bool big) {
    while (chain.size() < length) {
        const std::uint64_t b = AllocateBlock(big);
        if (!chain.empty()) SetEntry(chain.back(), static_cast<std::int32_t>(b), big);
        chain.push_back(b);
    }
}

std::uint64_t CompoundFile::WriteSectors(const unsigned char* data, std::uint64_t size, std::uint64_t start) {
    std::vector<std::uint64_t> chain;
    ChainBlocks(start, chain, true);
    Pin pin(pinnedSectors_, &chain);
    const std::uint64_t nNew = (size + kBlockSize - 1) / kBlockSize;
    if (chain.size() > nNew) ShortenChain(chain, nNew, true);
    // Allocation may add table sectors; the pinned chain follows them.
    ExtendChain(chain, nNew, true);
    const std::uint64_t full = size / kBlockSize;
    std::uint64_t i = 0;
    while (i < full) {
        std::uint64_t j = i + 1;
        while (j < full && chain[j] == chain[j - 1] + 1) ++j;
        if (!file_.WriteRun(chain[i] + 1, j - i, data + kBlockSize * i)) Fail();
        i = j;
    }
    if (size % kBlockSize != 0) {
        std::vector<unsigned char> last(kBlockSize, 0);
        std::memcpy(last.data(), data + kBlockSize * full, size % kBlockSize);
        WriteSector(chain[full], last.data());
    }
    return chain.empty() ? kNoBlock : chain[0];
}

std::uint64_t CompoundFile::WriteSmallBlocks(const unsigned char* data, std::uint64_t size, std::uint64_t start) {
    DirectoryEntry* root = entries_[0].get();
    if (size != 0 && root->startBlock == kEndOfChain) {
        // The small-block store starts as one zero sector.
        const std::uint64_t s = AllocateBlock(true);
        const std::vector<unsigned char> zero(kBlockSize, 0);
        WriteSector(s, zero.data());
        root->startBlock = static_cast<std::int32_t>(s);
        root->size = static_cast<std::uint32_t>(kBlockSize);
    }
    std::vector<std::uint64_t> chain;
    ChainBlocks(start, chain, false);
    Pin pin(pinnedSmallBlocks_, &chain);
    const std::uint64_t nNew = (size + kSmallBlockSize - 1) / kSmallBlockSize;
    std::vector<unsigned char> mini;
    if (nNew > chain.size()) {
        mini = LoadSmallStore();
        const std::size_t kept = chain.size();
        ExtendChain(chain, nNew, false);
        FitSmallStore(mini, chain, kept);
    } else {
        if (nNew < chain.size()) ShortenChain(chain, nNew, false);
        mini = LoadSmallStore();
    }
    for (std::uint64_t b : chain)  // never copy past the store
        if ((b + 1) * kSmallBlockSize > mini.size()) mini.resize((b + 1) * kSmallBlockSize, 0);
    const std::uint64_t full = size / kSmallBlockSize;
    for (std::uint64_t i = 0; i < full; ++i)
        std::memcpy(mini.data() + kSmallBlockSize * chain[i], data + kSmallBlockSize * i, kSmallBlockSize);
    if (size % kSmallBlockSize != 0)
        std::memcpy(mini.data() + kSmallBlockSize * chain[full], data + kSmallBlockSize * full, size % kSmallBlockSize);
    entries_[0]->size = static_cast<std::uint32_t>(mini.size());
    const std::uint64_t rootStart = static_cast<std::uint64_t>(static_cast<std::int64_t>(entries_[0]->startBlock));
    const std::uint64_t newStart = WriteData(mini.data(), mini.size(), rootStart, true);
    entries_[0]->startBlock = static_cast<std::int32_t>(static_cast<std::int64_t>(newStart));
    return chain.empty() ? kNoBlock : chain[0];
}

std::vector<unsigned char> CompoundFile::LoadSmallStore() {
    const std::uint64_t rootStart = static_cast<std::uint64_t>(static_cast<std::int64_t>(entries_[0]->startBlock));
    std::vector<unsigned char> mini(DataSize(rootStart, true), 0);
    ReadData(rootStart, mini.data(), true);
    mini.resize(std::min<std::uint64_t>(mini.size(), entries_[0]->size));
    return mini;
}

void CompoundFile::FitSmallStore(std::vector<unsigned char>& mini, const std::vector<std::uint64_t>& chain,
                                 std::size_t kept) {
    // The store holds every small block up to the highest one in use.
    std::uint64_t used = 0;
    for (std::uint64_t i = sbat_.size(); i > 0; --i)
        if (sbat_[i - 1] != kFreeBlock) {
            used = i;
            break;
        }
    mini.resize(used * kSmallBlockSize, 0);
    for (std::size_t i = kept; i < chain.size(); ++i)
        std::memset(mini.data() + kSmallBlockSize * chain[i], 0, kSmallBlockSize);
    entries_[0]->size = static_cast<std::uint32_t>(mini.size());
}

}  // namespace CompoundFiles
