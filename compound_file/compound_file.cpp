// The public operations of a compound document.
#include "compound_file/compound_file.h"

#include <algorithm>
#include <cstring>

#include "compound_file/path_text.h"

namespace CompoundFiles {

namespace {

constexpr std::uint64_t kLargestStream = 0xFFFFFFFFu;  // the size field is 32 bits wide

bool IsRootPath(const std::u16string& path) { return path == u"\\"; }

}  // namespace

CompoundFile::CompoundFile() : blockBuffer_(kBlockSize, 0) {}

CompoundFile::~CompoundFile() { Close(); }

void CompoundFile::Close() {
    bat_.clear();
    sbat_.clear();
    batSectors_.clear();
    difatSectors_.clear();
    sbatSectors_.clear();
    savedDirectories_.clear();
    current_ = nullptr;
    root_.reset();
    entries_.clear();
    pinnedSectors_.clear();
    pinnedSmallBlocks_.clear();
    batSearchFrom_ = 0;
    sbatSearchFrom_ = 0;
    failed_ = false;
    header_ = CompoundFileHeader();
    blockBuffer_.assign(kBlockSize, 0);
    file_.Close();
}

bool CompoundFile::IsOpen() const { return file_.IsOpen() && root_ != nullptr; }

bool CompoundFile::Writable() const { return IsOpen() && file_.CanWrite() && file_.CanRead() && !failed_; }

int CompoundFile::Commit() {
    if (!failed_) {
        EnsureDifatSectors();
        SaveProperties();
        SaveBAT();
        SaveHeader();
    }
    return failed_ ? kFileError : kDone;
}

bool CompoundFile::Create(const wchar_t* filename) {
    Close();
    return file_.Create(filename) && StartNewDocument();
}

bool CompoundFile::Create(const char* filename) {
    Close();
    return file_.Create(filename) && StartNewDocument();
}

bool CompoundFile::StartNewDocument() {
    header_ = CompoundFileHeader();
    bat_.assign(kEntriesPerBlock, kFreeBlock);
    bat_[0] = kBatBlock;
    bat_[1] = kEndOfChain;
    batSectors_ = {0};
    auto root = std::make_unique<DirectoryEntry>();
    const std::u16string name = u"Root Entry";
    std::memcpy(root->name, name.data(), name.size() * sizeof(char16_t));
    root->nameSize = static_cast<std::uint16_t>(2 * name.size() + 2);
    root->type = kTypeRoot;
    entries_.push_back(std::move(root));
    root_ = std::make_unique<DirectoryTreeNode>(nullptr, entries_[0].get(), 0);
    current_ = root_.get();
    if (Commit() != kDone) {
        Close();
        return false;
    }
    return true;
}

bool CompoundFile::Open(const wchar_t* filename, std::ios_base::openmode mode) {
    Close();
    return file_.Open(filename, mode) && LoadDocument();
}

bool CompoundFile::Open(const char* filename, std::ios_base::openmode mode) {
    Close();
    return file_.Open(filename, mode) && LoadDocument();
}

bool CompoundFile::LoadDocument() {
    if (!LoadHeader() || !LoadBAT() || !LoadProperties() || !CheckDocument() || failed_) {
        Close();
        return false;
    }
    return true;
}

int CompoundFile::MakeEntry(const std::u16string& path, std::uint8_t type) {
    if (!Writable()) return kFileError;
    savedDirectories_.push_back(current_);
    auto entry = std::make_unique<DirectoryEntry>();
    entry->type = type;
    const int code = MakeProperty(path, std::move(entry));
    current_ = savedDirectories_.back();
    savedDirectories_.pop_back();
    // Parent storages made on the way stay, so the document is saved either way.
    const int saved = Commit();
    return code == kDone ? saved : code;
}

int CompoundFile::RemoveDirectoryAt(const std::u16string& path) {
    if (!IsOpen()) return kFileError;
    DirectoryTreeNode* node = FindProperty(path);
    if (node == nullptr || node->entry->type != kTypeStorage) return kStorageNotFound;
    if (!node->children.empty()) return kStorageNotEmpty;
    if (!Writable()) return kFileError;
    DeleteNode(node);
    return Commit();
}

int CompoundFile::DelTreeAt(const std::u16string& path) {
    if (!IsOpen()) return kFileError;
    DirectoryTreeNode* top = FindProperty(path);
    if (top == nullptr) return kStorageNotFound;
    if (!Writable()) return kFileError;

    // Free the data of every stream below in two cuts (sectors, small blocks),
    // then remove the entries from the leaves up.
    std::vector<DirectoryTreeNode*> order{top};
    for (std::size_t i = 0; i < order.size(); ++i)
        for (auto& c : order[i]->children) order.push_back(c.get());
    std::vector<std::uint64_t> sectors, smallBlocks, chain;
    for (DirectoryTreeNode* n : order) {
        DirectoryEntry& e = *n->entry;
        if (e.type != kTypeStream || e.startBlock < 0 || e.size == 0) continue;
        const bool big = e.size >= kSmallStreamCutoff;
        ChainBlocks(static_cast<std::uint64_t>(e.startBlock), chain, big);
        (big ? sectors : smallBlocks).insert((big ? sectors : smallBlocks).end(), chain.begin(), chain.end());
        e.startBlock = kEndOfChain;
        e.size = 0;
    }
    // Sectors first: cutting small blocks may move sectors, never the reverse.
    FreeBlocks(sectors, true);
    FreeBlocks(smallBlocks, false);
    // Leaves first: reverse breadth-first order removes every member before
    // its storage. A current directory inside the tree moves up with it.
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        DirectoryTreeNode* n = *it;
        for (DirectoryTreeNode* c = current_; c != nullptr; c = c->parent)
            if (c == n) {
                current_ = n->parent;
                break;
            }
        DeleteNode(n);
    }
    return Commit();
}

int CompoundFile::RemoveFileAt(const std::u16string& path) {
    if (!IsOpen()) return kFileError;
    DirectoryTreeNode* node = FindProperty(path);
    if (node == nullptr || node->entry->type != kTypeStream) return kStreamNotFound;
    const int code = WriteFileAt(path, nullptr, 0);
    if (code != kDone) return code;
    DeleteNode(FindProperty(path));
    return Commit();
}

int CompoundFile::FileSizeAt(const std::u16string& path, std::uint64_t& size) {
    if (!IsOpen()) return kFileError;
    if (IsRootPath(path)) {
        size = entries_[0]->size;
        return kDone;
    }
    DirectoryTreeNode* node = FindProperty(path);
    if (node == nullptr || node->entry->type != kTypeStream) return kStreamNotFound;
    size = node->entry->size;
    return kDone;
}

int CompoundFile::ReadFileAt(const std::u16string& path, std::vector<unsigned char>& data) {
    data.clear();
    if (!IsOpen()) return kFileError;
    std::uint64_t start = 0, size = 0;
    bool big = true;
    if (IsRootPath(path)) {
        start = static_cast<std::uint64_t>(static_cast<std::int64_t>(entries_[0]->startBlock));
        size = entries_[0]->size;
    } else {
        DirectoryTreeNode* node = FindProperty(path);
        if (node == nullptr || node->entry->type != kTypeStream) return kStreamNotFound;
        start = static_cast<std::uint64_t>(static_cast<std::int64_t>(node->entry->startBlock));
        size = node->entry->size;
        big = size >= kSmallStreamCutoff;
    }
    if (size == 0) return kDone;
    const bool failedBefore = failed_;
    std::vector<unsigned char> buffer(DataSize(start, big));
    ReadData(start, buffer.data(), big);
    // Sizes were checked against their chains when the document was opened.
    if (buffer.size() < size || (failed_ && !failedBefore)) return kFileError;
    data.assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(size));
    return kDone;
}

int CompoundFile::WriteFileAt(const std::u16string& path, const unsigned char* data, std::uint64_t size) {
    if (!IsOpen()) return kFileError;
    DirectoryTreeNode* node = FindProperty(path);
    if (node == nullptr || node->entry->type != kTypeStream) return kStreamNotFound;
    if (!Writable() || size > kLargestStream) return kFileError;
    DirectoryEntry* e = node->entry;  // entries live on the heap: the pointer survives renumbering
    const std::uint64_t old = e->size;
    std::uint64_t start = static_cast<std::uint64_t>(static_cast<std::int64_t>(e->startBlock));
    const bool oldBig = old >= kSmallStreamCutoff, newBig = size >= kSmallStreamCutoff;
    if (oldBig != newBig && start != kNoBlock) {
        // Empty the old chain first; the entry says so at once, so no
        // renumbering mistakes its old start for a live one.
        WriteData(nullptr, 0, start, oldBig);
        e->startBlock = kEndOfChain;
        e->size = 0;
        start = kNoBlock;
    }
    start = WriteData(data, size, start, newBig);
    e->startBlock = static_cast<std::int32_t>(static_cast<std::int64_t>(start));
    e->size = static_cast<std::uint32_t>(size);
    return Commit();
}

int CompoundFile::ChangeDirectory(const wchar_t* path) {
    if (!IsOpen()) return kFileError;
    return ChangeDirectoryTo(WideToUtf16(path));
}

int CompoundFile::MakeDirectory(const wchar_t* path) { return MakeEntry(WideToUtf16(path), kTypeStorage); }
int CompoundFile::MakeFile(const wchar_t* path) { return MakeEntry(WideToUtf16(path), kTypeStream); }
int CompoundFile::RemoveDirectory(const wchar_t* path) { return RemoveDirectoryAt(WideToUtf16(path)); }
int CompoundFile::DelTree(const wchar_t* path) { return DelTreeAt(WideToUtf16(path)); }
int CompoundFile::RemoveFile(const wchar_t* path) { return RemoveFileAt(WideToUtf16(path)); }
int CompoundFile::FileSize(const wchar_t* path, std::uint64_t& size) { return FileSizeAt(WideToUtf16(path), size); }

int CompoundFile::PresentWorkingDirectory(std::vector<wchar_t>& path) {
    path.clear();
    if (!IsOpen()) return kFileError;
    path = Utf16ToWide(WorkingPath());
    return kDone;
}

int CompoundFile::PresentWorkingDirectory(wchar_t* buffer, std::size_t capacity) {
    std::vector<wchar_t> path;
    const int code = PresentWorkingDirectory(path);
    if (code != kDone) return code;
    if (buffer == nullptr || capacity < path.size() + 1) return kBufferTooSmall;
    std::copy(path.begin(), path.end(), buffer);
    buffer[path.size()] = 0;
    return kDone;
}

int CompoundFile::ListDirectory(std::vector<std::vector<wchar_t>>& names, const wchar_t* path) {
    names.clear();
    if (!IsOpen()) return kFileError;
    DirectoryTreeNode* node = current_;
    if (path != nullptr) {
        DirectoryTreeNode* saved = current_;
        const int code = ChangeDirectoryTo(WideToUtf16(path));
        node = current_;
        current_ = saved;
        if (code != kDone) return code;
    }
    for (auto& c : node->children) {
        std::vector<wchar_t> name =
            Utf16ToWide(std::u16string(reinterpret_cast<const char16_t*>(c->entry->name), c->entry->NameLength()));
        name.resize(kNameUnits, 0);
        names.push_back(std::move(name));
    }
    return kDone;
}

int CompoundFile::ReadFile(const wchar_t* path, std::vector<unsigned char>& data) {
    return ReadFileAt(WideToUtf16(path), data);
}

int CompoundFile::ReadFile(const wchar_t* path, std::vector<char>& data) {
    std::vector<unsigned char> bytes;
    const int code = ReadFileAt(WideToUtf16(path), bytes);
    data.assign(bytes.begin(), bytes.end());
    return code;
}

int CompoundFile::ReadFile(const wchar_t* path, unsigned char* buffer, std::size_t capacity) {
    std::vector<unsigned char> bytes;
    const int code = ReadFileAt(WideToUtf16(path), bytes);
    if (code != kDone) return code;
    if (bytes.size() > capacity || (buffer == nullptr && !bytes.empty())) return kBufferTooSmall;
    if (!bytes.empty()) std::memcpy(buffer, bytes.data(), bytes.size());
    return kDone;
}

int CompoundFile::ReadFile(const wchar_t* path, char* buffer, std::size_t capacity) {
    return ReadFile(path, reinterpret_cast<unsigned char*>(buffer), capacity);
}

int CompoundFile::WriteFile(const wchar_t* path, const unsigned char* data, std::size_t size) {
    if (data == nullptr && size != 0) return kBufferTooSmall;
    return WriteFileAt(WideToUtf16(path), data, size);
}

int CompoundFile::WriteFile(const wchar_t* path, const char* data, std::size_t size) {
    return WriteFile(path, reinterpret_cast<const unsigned char*>(data), size);
}

int CompoundFile::WriteFile(const wchar_t* path, const std::vector<unsigned char>& data, std::size_t size) {
    if (size > data.size()) return kBufferTooSmall;
    return WriteFileAt(WideToUtf16(path), data.data(), size);
}

int CompoundFile::WriteFile(const wchar_t* path, const std::vector<char>& data, std::size_t size) {
    if (size > data.size()) return kBufferTooSmall;
    return WriteFileAt(WideToUtf16(path), reinterpret_cast<const unsigned char*>(data.data()), size);
}

}  // namespace CompoundFiles
