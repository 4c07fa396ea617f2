// Directory: loading and saving the entry list, the node tree over it, path
// lookup, and the rebuilding of sibling links.
#include <algorithm>
#include <cstring>
#include <limits>

#include "compound_file/compound_file.h"

namespace CompoundFiles {

DirectoryTreeNode::~DirectoryTreeNode() {
    std::vector<std::unique_ptr<DirectoryTreeNode>> pending;
    // Out of memory for the list, what is left goes node by node (recursively).
    try {
        for (auto& c : children) pending.push_back(std::move(c));
        children.clear();
        while (!pending.empty()) {
            std::unique_ptr<DirectoryTreeNode> n = std::move(pending.back());
            pending.pop_back();
            for (auto& c : n->children) pending.push_back(std::move(c));
            n->children.clear();
        }
    } catch (...) {
    }
}

namespace {

std::u16string EntryName(const DirectoryEntry& e) {
    return std::u16string(reinterpret_cast<const char16_t*>(e.name), e.NameLength());
}

// Shorter names first; names of one length by code unit, case-sensitive.
bool ComesBeforeOrEquals(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) return a.size() < b.size();
    return a <= b;
}

char16_t Fold(char16_t c) {
    if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 32);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 32);
    return c;
}

// Other readers treat names that differ only in letter case as one name.
bool SameIgnoringCase(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Fold(a[i]) != Fold(b[i])) return false;
    return true;
}

template <typename F>
void ForEachNode(DirectoryTreeNode* top, F f) {
    std::vector<DirectoryTreeNode*> stack{top};
    while (!stack.empty()) {
        DirectoryTreeNode* n = stack.back();
        stack.pop_back();
        f(n);
        for (auto& c : n->children) stack.push_back(c.get());
    }
}

}  // namespace

bool CompoundFile::LoadProperties() {
    const std::uint64_t start = static_cast<std::uint64_t>(static_cast<std::int64_t>(header_.directoryStart));
    std::vector<std::uint64_t> chain;
    ChainBlocks(start, chain, true);
    if (chain.empty()) return false;
    // The whole chain must be valid: inside the file, no loop, ended by -2.
    {
        std::vector<bool> seen(bat_.size(), false);
        for (std::uint64_t b : chain) {
            if (b >= FileSectors() || seen[b]) return false;
            seen[b] = true;
        }
        if (bat_[chain.back()] != kEndOfChain) return false;
    }
    std::vector<unsigned char> data(chain.size() * kBlockSize);
    ReadData(start, data.data(), true);
    if (failed_) return false;

    const std::uint64_t slots = chain.size() * (kBlockSize / kEntrySize);
    std::vector<DirectoryEntry> disk(slots);
    for (std::uint64_t i = 0; i < slots; ++i) disk[i].Read(data.data() + kEntrySize * i);

    auto named = [](const DirectoryEntry& e) {
        const std::uint32_t n = e.NameLength();
        return n > 0 && n < kNameUnits;
    };
    if (disk[0].type != kTypeRoot || !named(disk[0])) return false;

    // Walk every storage's sibling tree without recursion; every entry may be
    // reached once, and only through valid links.
    std::vector<bool> reached(slots, false);
    reached[0] = true;
    std::vector<std::vector<std::uint64_t>> members(slots);
    std::vector<std::uint64_t> storages{0};
    for (std::size_t q = 0; q < storages.size(); ++q) {
        const std::uint64_t s = storages[q];
        std::vector<std::int64_t> stack{disk[s].child};
        while (!stack.empty()) {
            const std::int64_t k = stack.back();
            stack.pop_back();
            if (k == kNoEntry) continue;
            if (k < 0 || static_cast<std::uint64_t>(k) >= slots) return false;
            const std::uint64_t u = static_cast<std::uint64_t>(k);
            if (reached[u]) return false;
            reached[u] = true;
            const DirectoryEntry& e = disk[u];
            if ((e.type != kTypeStorage && e.type != kTypeStream) || !named(e)) return false;
            if (e.type == kTypeStream && e.child != kNoEntry) return false;
            members[s].push_back(u);
            stack.push_back(e.leftSibling);
            stack.push_back(e.rightSibling);
            if (e.type == kTypeStorage) storages.push_back(u);
        }
    }

    // Keep the reached entries in disk order; unused and unreachable slots go.
    std::vector<std::uint64_t> position(slots, 0);
    entries_.clear();
    for (std::uint64_t i = 0; i < slots; ++i) {
        if (!reached[i]) continue;
        position[i] = entries_.size();
        entries_.push_back(std::make_unique<DirectoryEntry>(disk[i]));
    }
    std::vector<DirectoryTreeNode*> nodeOf(slots, nullptr);
    root_ = std::make_unique<DirectoryTreeNode>(nullptr, entries_[0].get(), 0);
    nodeOf[0] = root_.get();
    for (std::uint64_t s : storages) {
        DirectoryTreeNode* parent = nodeOf[s];
        std::vector<std::uint64_t>& m = members[s];
        std::sort(m.begin(), m.end());
        for (std::uint64_t k : m) {
            const std::uint64_t index = position[k];
            parent->children.push_back(std::make_unique<DirectoryTreeNode>(parent, entries_[index].get(), index));
            nodeOf[k] = parent->children.back().get();
        }
    }
    for (std::uint64_t s : storages) Relink(nodeOf[s]);
    current_ = root_.get();
    return true;
}

void CompoundFile::SaveProperties() {
    const std::uint64_t perBlock = kBlockSize / kEntrySize;
    const std::uint64_t blocks = (entries_.size() + perBlock - 1) / perBlock;
    std::vector<unsigned char> buffer(blocks * kBlockSize, 0);
    for (std::size_t i = 0; i < entries_.size(); ++i) entries_[i]->Write(buffer.data() + kEntrySize * i);
    const std::uint64_t start = static_cast<std::uint64_t>(static_cast<std::int64_t>(header_.directoryStart));
    header_.directoryStart =
        static_cast<std::int32_t>(static_cast<std::int64_t>(WriteData(buffer.data(), buffer.size(), start, true)));
}

void CompoundFile::SplitPath(const std::u16string& path, std::u16string* parent, std::u16string& name,
                             bool& hasParent) {
    const std::size_t p = path.rfind(u'\\');
    if (p != std::u16string::npos && p > 0) {
        hasParent = true;
        if (parent) *parent = path.substr(0, p);
        name = path.substr(p + 1);
        return;
    }
    hasParent = false;
    if (parent) parent->clear();
    name = (!path.empty() && path[0] == u'\\') ? path.substr(1) : path;
}

DirectoryTreeNode* CompoundFile::FindChild(DirectoryTreeNode* node, const std::u16string& name) const {
    if (node == nullptr) return nullptr;
    for (auto& c : node->children)
        if (EntryName(*c->entry) == name) return c.get();
    return nullptr;
}

int CompoundFile::ChangeDirectoryTo(const std::u16string& path) {
    if (path == u".") return kDone;
    if (path == u"..") {
        if (current_->parent) current_ = current_->parent;
        return kDone;
    }
    if (path == u"\\") {
        current_ = root_.get();
        return kDone;
    }
    DirectoryTreeNode* node = current_;
    std::size_t pos = 0;
    if (!path.empty() && path[0] == u'\\') {
        node = root_.get();
        pos = 1;
    }
    while (pos < path.size()) {
        const std::size_t next = path.find(u'\\', pos);
        const std::u16string component =
            path.substr(pos, next == std::u16string::npos ? std::u16string::npos : next - pos);
        DirectoryTreeNode* child = FindChild(node, component);
        // A stream has no members, so it is no directory to enter.
        if (child == nullptr || child->entry->type != kTypeStorage) return kStorageNotFound;
        node = child;
        if (next == std::u16string::npos) break;
        pos = next + 1;
    }
    current_ = node;
    return kDone;
}

DirectoryTreeNode* CompoundFile::FindProperty(const std::u16string& path) {
    DirectoryTreeNode* saved = current_;
    if (!path.empty() && path[0] == u'\\') current_ = root_.get();
    std::u16string parent, name;
    bool hasParent = false;
    SplitPath(path, &parent, name, hasParent);
    DirectoryTreeNode* found = nullptr;
    if (!hasParent || ChangeDirectoryTo(parent) == kDone) found = name.empty() ? nullptr : FindChild(current_, name);
    current_ = saved;
    return found;
}

int CompoundFile::MakeProperty(const std::u16string& path, std::unique_ptr<DirectoryEntry> entry) {
    if (!path.empty() && path[0] == u'\\') current_ = root_.get();
    std::u16string parent, name;
    bool hasParent = false;
    SplitPath(path, &parent, name, hasParent);
    if (name.empty()) return kNoName;

    auto addMember = [this](DirectoryTreeNode* storage, const std::u16string& memberName,
                            std::unique_ptr<DirectoryEntry> e) -> int {
        if (memberName.empty()) return kNoName;
        if (memberName.size() >= kNameUnits) return kNameTooLong;
        for (auto& c : storage->children)
            if (SameIgnoringCase(EntryName(*c->entry), memberName)) return kNameExists;
        std::memset(e->name, 0, sizeof(e->name));
        std::memcpy(e->name, memberName.data(), memberName.size() * sizeof(char16_t));
        e->nameSize = static_cast<std::uint16_t>(2 * memberName.size() + 2);
        std::size_t i = 1;
        while (i < entries_.size() && !ComesBeforeOrEquals(memberName, EntryName(*entries_[i]))) ++i;
        if (i < entries_.size()) ShiftIndicesUp(root_.get(), i);
        DirectoryEntry* raw = e.get();
        entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(i), std::move(e));
        AddNode(storage, std::make_unique<DirectoryTreeNode>(storage, raw, i));
        return kDone;
    };

    if (hasParent) {
        // Enter the parent storages one by one, making those that are missing.
        DirectoryTreeNode* node = current_;
        std::size_t pos = 0;
        if (parent[0] == u'\\') {
            node = root_.get();
            pos = 1;
        }
        while (pos < parent.size()) {
            const std::size_t next = parent.find(u'\\', pos);
            const std::u16string component =
                parent.substr(pos, next == std::u16string::npos ? std::u16string::npos : next - pos);
            DirectoryTreeNode* child = FindChild(node, component);
            if (child == nullptr) {
                const int code = addMember(node, component, std::make_unique<DirectoryEntry>());
                if (code != kDone) return code;
                child = FindChild(node, component);
            } else if (child->entry->type != kTypeStorage) {
                return kNameExists;
            }
            node = child;
            if (next == std::u16string::npos) break;
            pos = next + 1;
        }
        current_ = node;
    }
    return addMember(current_, name, std::move(entry));
}

void CompoundFile::AddNode(DirectoryTreeNode* parent, std::unique_ptr<DirectoryTreeNode> node) {
    auto at = std::find_if(parent->children.begin(), parent->children.end(),
                           [&](const std::unique_ptr<DirectoryTreeNode>& c) { return c->index > node->index; });
    parent->children.insert(at, std::move(node));
    Relink(parent);
}

void CompoundFile::DeleteNode(DirectoryTreeNode* node) {
    if (node == nullptr || node->parent == nullptr || !node->children.empty()) return;
    DirectoryTreeNode* parent = node->parent;
    // Nothing may keep pointing at the node once it is gone.
    if (current_ == node) current_ = parent;
    for (DirectoryTreeNode*& saved : savedDirectories_)
        if (saved == node) saved = parent;
    const std::uint64_t index = node->index;
    ShiftIndicesDown(root_.get(), index);
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(index));
    auto it = std::find_if(parent->children.begin(), parent->children.end(),
                           [&](const std::unique_ptr<DirectoryTreeNode>& c) { return c.get() == node; });
    if (it != parent->children.end()) parent->children.erase(it);
    Relink(parent);
}

void CompoundFile::Relink(DirectoryTreeNode* storage) {
    auto& c = storage->children;
    const std::size_t n = c.size();
    if (n == 0) {
        storage->entry->child = kNoEntry;
        return;
    }
    const std::size_t m = n / 2;
    auto idx = [&](std::size_t j) { return static_cast<std::int32_t>(c[j]->index); };
    storage->entry->child = idx(m);
    c[0]->entry->leftSibling = kNoEntry;
    c[0]->entry->rightSibling = kNoEntry;
    for (std::size_t j = 1; j <= m; ++j) {
        c[j]->entry->leftSibling = idx(j - 1);
        c[j]->entry->rightSibling = kNoEntry;
    }
    for (std::size_t j = m; j + 1 < n; ++j) c[j]->entry->rightSibling = idx(j + 1);
    for (std::size_t j = m + 1; j < n; ++j) c[j]->entry->leftSibling = kNoEntry;
    c[n - 1]->entry->rightSibling = kNoEntry;
}

void CompoundFile::ShiftIndicesUp(DirectoryTreeNode* node, std::uint64_t index) {
    const std::int64_t i = static_cast<std::int64_t>(index);
    // A damaged file may name an entry no directory can hold (up to
    // 2^31 - 1); it names nothing either way and must not overflow.
    auto shift = [&](std::int32_t& v) {
        if (v != kNoEntry && v >= i && v < std::numeric_limits<std::int32_t>::max()) ++v;
    };
    ForEachNode(node, [&](DirectoryTreeNode* n) {
        if (n->index >= index) ++n->index;
        shift(n->entry->leftSibling);
        shift(n->entry->rightSibling);
        shift(n->entry->child);
    });
}

void CompoundFile::ShiftIndicesDown(DirectoryTreeNode* node, std::uint64_t index) {
    const std::int64_t i = static_cast<std::int64_t>(index);
    auto shift = [&](std::int32_t& v) {
        if (v != kNoEntry && v > i) --v;
    };
    ForEachNode(node, [&](DirectoryTreeNode* n) {
        if (n->index > index) --n->index;
        shift(n->entry->leftSibling);
        shift(n->entry->rightSibling);
        shift(n->entry->child);
    });
}

std::u16string CompoundFile::WorkingPath() const {
    std::u16string path;
    for (const DirectoryTreeNode* n = current_; n != nullptr && n->parent != nullptr; n = n->parent)
        path = u"\\" + EntryName(*n->entry) + path;
    return path.empty() ? std::u16string(u"\\") : path;
}

}  // namespace CompoundFiles
