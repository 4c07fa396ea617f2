// Opening a document from outside: the tables are read in either extension
// form and every chain is checked before anything relies on it.
#include <algorithm>

#include "compound_file/compound_file.h"
#include "compound_file/little_endian.h"

namespace CompoundFiles {

namespace {

bool Distinct(std::vector<std::uint64_t> v) {
    std::sort(v.begin(), v.end());
    return std::adjacent_find(v.begin(), v.end()) == v.end();
}

// Whether s names a sector of a file of that many sectors.
bool IsSector(std::int64_t s, std::uint64_t sectors) { return s >= 0 && static_cast<std::uint64_t>(s) < sectors; }

}  // namespace

bool CompoundFile::LoadBAT() {
    const std::uint64_t sectors = FileSectors();
    const std::uint64_t count = header_.batCount;
    if (count == 0 || count > sectors) return false;

    std::vector<std::uint64_t> headerPart;
    for (std::uint64_t i = 0; i < std::min<std::uint64_t>(count, kHeaderBatSlots); ++i) {
        if (!IsSector(header_.batSlots[i], sectors)) return false;
        headerPart.push_back(static_cast<std::uint64_t>(header_.batSlots[i]));
    }

    std::vector<std::uint64_t> bats, difats, sbats;
    if (!LoadBlockTable(headerPart, bats, difats)) return false;
    if (!LoadSmallBlockTable(sbats)) return false;
    return AdoptTableSectors(bats, difats, sbats);
}

bool CompoundFile::ReadTableSectors(const std::vector<std::uint64_t>& list, std::vector<std::int32_t>& table) {
    table.assign(list.size() * kEntriesPerBlock, kFreeBlock);
    for (std::size_t j = 0; j < list.size(); ++j) {
        ReadSector(list[j], blockBuffer_.data());
        for (std::uint64_t i = 0; i < kEntriesPerBlock; ++i)
            LittleEndian::Read(blockBuffer_.data(), table[j * kEntriesPerBlock + i], 4 * i, 4);
    }
    return !failed_;
}

bool CompoundFile::LoadBlockTable(const std::vector<std::uint64_t>& headerPart, std::vector<std::uint64_t>& bats,
                                  std::vector<std::uint64_t>& difats) {
    if (header_.xbatCount == 0) {
        if (header_.batCount > kHeaderBatSlots) return false;
        bats = headerPart;
        return ReadTableSectors(bats, bat_);
    }
    // Two extension forms exist: the published one lists further table
    // sectors (127 per sector and a link to the next, marked -4), the
    // other holds table entries directly in a run of sectors marked -3.
    // The marker of the first extension sector tells them apart.
    const std::int64_t first = header_.xbatStart;
    if (!IsSector(first, FileSectors())) return false;

    std::vector<std::uint64_t> pubBats = headerPart, pubDifats;
    std::vector<std::int32_t> pubTable;
    const bool published = ReadPublishedExtension(pubBats, pubDifats, pubTable);

    std::vector<std::uint64_t> varBats = headerPart;
    std::vector<std::int32_t> varTable;
    const bool variant = ReadVariantExtension(varBats, varTable);

    const std::uint64_t f = static_cast<std::uint64_t>(first);
    const bool pubMarked = published && f < pubTable.size() && pubTable[f] == kDifatBlock;
    const bool varMarked = variant && f < varTable.size() && varTable[f] == kBatBlock;
    if (pubMarked || (published && !varMarked)) {
        bats = pubBats;
        difats = pubDifats;
        bat_ = pubTable;
    } else if (variant) {
        bats = varBats;
        bat_ = varTable;
    } else {
        return false;
    }
    return true;
}

bool CompoundFile::ReadPublishedExtension(std::vector<std::uint64_t>& bats, std::vector<std::uint64_t>& difats,
                                          std::vector<std::int32_t>& table) {
    const std::uint64_t sectors = FileSectors();
    const std::uint64_t count = header_.batCount;
    if (count <= kHeaderBatSlots) return false;
    std::uint64_t remaining = count - kHeaderBatSlots;
    std::int64_t s = header_.xbatStart;
    std::vector<std::int32_t> list(kEntriesPerBlock);
    while (remaining > 0) {
        if (!IsSector(s, sectors) || difats.size() >= header_.xbatCount) return false;
        ReadSector(static_cast<std::uint64_t>(s), blockBuffer_.data());
        for (std::uint64_t i = 0; i < kEntriesPerBlock; ++i) LittleEndian::Read(blockBuffer_.data(), list[i], 4 * i, 4);
        difats.push_back(static_cast<std::uint64_t>(s));
        for (std::uint64_t i = 0; i < kDifatEntriesPerBlock && remaining > 0; ++i, --remaining) {
            if (!IsSector(list[i], sectors)) return false;
            bats.push_back(static_cast<std::uint64_t>(list[i]));
        }
        s = list[kDifatEntriesPerBlock];
    }
    return ReadTableSectors(bats, table);
}

bool CompoundFile::ReadVariantExtension(std::vector<std::uint64_t>& bats, std::vector<std::int32_t>& table) {
    const std::uint64_t sectors = FileSectors();
    const std::uint64_t first = static_cast<std::uint64_t>(static_cast<std::int64_t>(header_.xbatStart));
    if (header_.batCount != kHeaderBatSlots || header_.xbatCount > sectors || first > sectors - header_.xbatCount)
        return false;
    for (std::uint64_t i = 0; i < header_.xbatCount; ++i) bats.push_back(first + i);
    return ReadTableSectors(bats, table);
}

bool CompoundFile::LoadSmallBlockTable(std::vector<std::uint64_t>& sbats) {
    if (header_.sbatCount == 0) {
        sbat_.clear();
        return true;
    }
    // A chain in the block table; a run without links (as some writers
    // leave it) is taken as consecutive sectors.
    const std::uint64_t sectors = FileSectors();
    if (header_.sbatCount > sectors || !IsSector(header_.sbatStart, sectors)) return false;
    std::vector<bool> seen(sectors, false);
    std::uint64_t s = static_cast<std::uint64_t>(header_.sbatStart);
    for (std::uint64_t i = 0; i < header_.sbatCount; ++i) {
        if (i > 0) {
            const std::uint64_t prev = sbats.back();
            const std::int32_t link = prev < bat_.size() ? bat_[prev] : kFreeBlock;
            s = (IsSector(link, sectors) && !seen[static_cast<std::uint64_t>(link)]) ? static_cast<std::uint64_t>(link)
                                                                                     : prev + 1;
        }
        if (s >= sectors || seen[s]) return false;
        seen[s] = true;
        sbats.push_back(s);
    }
    return ReadTableSectors(sbats, sbat_);
}

bool CompoundFile::AdoptTableSectors(const std::vector<std::uint64_t>& bats, const std::vector<std::uint64_t>& difats,
                                     const std::vector<std::uint64_t>& sbats) {
    // Every table sector must be one of its own kind and described by the table.
    std::vector<std::uint64_t> all(bats);
    all.insert(all.end(), difats.begin(), difats.end());
    all.insert(all.end(), sbats.begin(), sbats.end());
    if (!Distinct(all)) return false;
    for (std::uint64_t s : all)
        if (s >= bat_.size()) return false;
    batSectors_ = bats;
    difatSectors_ = difats;
    sbatSectors_ = sbats;
    for (std::uint64_t s : batSectors_) bat_[s] = kBatBlock;
    for (std::uint64_t s : difatSectors_) bat_[s] = kDifatBlock;
    LinkTableChain(sbatSectors_);
    batSearchFrom_ = 0;
    sbatSearchFrom_ = 0;
    return true;
}

bool CompoundFile::CheckDocument() {
    const std::uint64_t sectors = FileSectors();
    std::vector<bool> owned(bat_.size(), false);
    for (std::uint64_t s : batSectors_) owned[s] = true;
    for (std::uint64_t s : difatSectors_) owned[s] = true;
    for (std::uint64_t s : sbatSectors_) owned[s] = true;

    // A chain must stay inside its table and the file, never meet a block
    // twice (its own or another chain's) and end with the end marker.
    auto claim = [](std::int64_t start, const std::vector<std::int32_t>& table, std::vector<bool>& taken,
                    std::uint64_t limit, std::uint64_t& length) {
        length = 0;
        std::int64_t b = start;
        if (b == kEndOfChain) return true;
        for (;;) {
            if (b < 0 || static_cast<std::uint64_t>(b) >= table.size() || static_cast<std::uint64_t>(b) >= limit)
                return false;
            const std::uint64_t u = static_cast<std::uint64_t>(b);
            if (taken[u]) return false;
            taken[u] = true;
            ++length;
            const std::int32_t next = table[u];
            if (next == kEndOfChain) return true;
            if (next < 0) return false;
            b = next;
        }
    };

    std::uint64_t length = 0;
    if (!claim(header_.directoryStart, bat_, owned, sectors, length) || length == 0) return false;

    DirectoryEntry& root = *entries_[0];
    if (!claim(root.startBlock, bat_, owned, sectors, length)) return false;
    if (root.size > length * kBlockSize) return false;
    if (root.size % kSmallBlockSize != 0) {
        // A store whose length is not whole small blocks: round it up when
        // its chain holds the bytes.
        const std::uint64_t rounded = (root.size / kSmallBlockSize + 1) * kSmallBlockSize;
        if (rounded > length * kBlockSize) return false;
        root.size = static_cast<std::uint32_t>(rounded);
    }
    const std::uint64_t smallLimit = root.size / kSmallBlockSize;

    std::vector<bool> ownedSmall(sbat_.size(), false);
    for (std::size_t i = 1; i < entries_.size(); ++i) {
        DirectoryEntry& e = *entries_[i];
        if (e.type == kTypeStorage || e.size == 0) {
            // Storages hold no data; an empty stream owns no blocks.
            e.startBlock = kEndOfChain;
            e.size = 0;
            continue;
        }
        if (e.size >= kSmallStreamCutoff) {
            if (!claim(e.startBlock, bat_, owned, sectors, length)) return false;
            if (e.size > length * kBlockSize) return false;
        } else {
            if (!claim(e.startBlock, sbat_, ownedSmall, smallLimit, length)) return false;
            if (e.size > length * kSmallBlockSize) return false;
        }
    }
    return true;
}

}  // namespace CompoundFiles
