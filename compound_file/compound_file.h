#pragma once
// Reader and writer of compound documents (512-byte sectors, 64-byte small
// blocks, one directory of 128-byte entries). Every operation that changes the
// document writes header, allocation tables and directory back before it
// returns; there is no separate save step. The file is kept compact: freed
// sectors are cut out and every sector number behind them renumbered.
//
// Paths are backslash-separated; a leading backslash starts at the root, else
// at the current directory; "\" alone is the root, "." and ".." alone the
// current directory and its parent.
#include <cstddef>
#include <cstdint>
#include <ios>
#include <memory>
#include <string>
#include <vector>

#include "compound_file/block_file.h"
#include "compound_file/compound_file_header.h"
#include "compound_file/directory_entry.h"
#include "compound_file/directory_tree_node.h"

namespace CompoundFiles {

// Result codes of the path operations.
constexpr int kDone = 1;
constexpr int kNoName = -1;           // path has no name part, or an empty one
constexpr int kStorageNotFound = -2;  // a storage on the path is missing
constexpr int kStorageNotEmpty = -3;
constexpr int kStreamNotFound = -4;
constexpr int kNameTooLong = -5;  // 32 or more UTF-16 code units
constexpr int kNameExists = -6;
constexpr int kFileError = -7;       // no open document, opened read-only, or a read/write failed
constexpr int kBufferTooSmall = -8;  // caller's buffer cannot hold the result

class CompoundFile {
public:
    CompoundFile();
    ~CompoundFile();
    CompoundFile(const CompoundFile&) = delete;
    CompoundFile& operator=(const CompoundFile&) = delete;

    // Creates (or empties) the file and writes a new document into it: header,
    // one table sector, one directory sector holding "Root Entry". False when
    // the file cannot be created or written.
    bool Create(const wchar_t* filename);
    bool Create(const char* filename);

    // Opens an existing document. False when the file cannot be opened, or
    // its header, tables, chains or directory are damaged or of a layout this
    // class does not handle (only 512-byte sectors). Nothing read is trusted.
    bool Open(const wchar_t* filename, std::ios_base::openmode mode = std::ios_base::in | std::ios_base::out);
    bool Open(const char* filename, std::ios_base::openmode mode = std::ios_base::in | std::ios_base::out);

    // Forgets the document and closes the file; writes nothing.
    void Close();
    bool IsOpen() const;

    // All path operations return one of the codes above.
    int ChangeDirectory(const wchar_t* path);
    int ChangeDirectory(const char* path);
    // Makes the storage and any missing storage above it.
    int MakeDirectory(const wchar_t* path);
    int MakeDirectory(const char* path);
    // Removes an empty storage (-3 when it has members, -2 when missing or a stream).
    int RemoveDirectory(const wchar_t* path);
    int RemoveDirectory(const char* path);
    // Removes a storage with everything below it, or a stream.
    int DelTree(const wchar_t* path);
    int DelTree(const char* path);

    // The current directory as a path from the root ("\" for the root).
    // Buffer forms: `capacity` counts elements including the terminating zero;
    // -8 when the path does not fit. Vector forms: wide vector holds exactly
    // the characters; byte vector holds the multibyte path and a zero.
    int PresentWorkingDirectory(wchar_t* buffer, std::size_t capacity);
    int PresentWorkingDirectory(std::vector<wchar_t>& path);
    int PresentWorkingDirectory(char* buffer, std::size_t capacity);
    int PresentWorkingDirectory(std::vector<char>& path);

    // Names of the members of a storage (the current directory when path is
    // null), in entry order, each as 32 wide characters holding the
    // zero-terminated name.
    int ListDirectory(std::vector<std::vector<wchar_t>>& names, const wchar_t* path = nullptr);

    // Makes an empty stream.
    int MakeFile(const wchar_t* path);
    int MakeFile(const char* path);
    // Removes a stream and frees its blocks.
    int RemoveFile(const wchar_t* path);
    int RemoveFile(const char* path);
    // Size of a stream in bytes; the root path gives the small-block store's size.
    int FileSize(const wchar_t* path, std::uint64_t& size);
    int FileSize(const char* path, std::uint64_t& size);

    // Reads a whole stream. Buffer forms: -8 when the stream is larger than
    // capacity. Vector forms: the vector is resized to the stream.
    int ReadFile(const wchar_t* path, unsigned char* buffer, std::size_t capacity);
    int ReadFile(const wchar_t* path, char* buffer, std::size_t capacity);
    int ReadFile(const wchar_t* path, std::vector<unsigned char>& data);
    int ReadFile(const wchar_t* path, std::vector<char>& data);
    int ReadFile(const char* path, unsigned char* buffer, std::size_t capacity);
    int ReadFile(const char* path, char* buffer, std::size_t capacity);
    int ReadFile(const char* path, std::vector<unsigned char>& data);
    int ReadFile(const char* path, std::vector<char>& data);

    // Replaces the content of an existing stream with `size` bytes (0 empties
    // it). Vector forms: -8 when the vector holds fewer than size bytes; -7
    // for a size the 32-bit size field cannot hold.
    int WriteFile(const wchar_t* path, const unsigned char* data, std::size_t size);
    int WriteFile(const wchar_t* path, const char* data, std::size_t size);
    int WriteFile(const wchar_t* path, const std::vector<unsigned char>& data, std::size_t size);
    int WriteFile(const wchar_t* path, const std::vector<char>& data, std::size_t size);
    int WriteFile(const char* path, const unsigned char* data, std::size_t size);
    int WriteFile(const char* path, const char* data, std::size_t size);
    int WriteFile(const char* path, const std::vector<unsigned char>& data, std::size_t size);
    int WriteFile(const char* path, const std::vector<char>& data, std::size_t size);

protected:
    // Block numbers travel as unsigned 64-bit values, sign-extended from the
    // 32-bit table entries, so the end-of-chain marker is this value.
    static constexpr std::uint64_t kNoBlock = static_cast<std::uint64_t>(static_cast<std::int64_t>(kEndOfChain));
    static constexpr std::uint64_t kBlockSize = 512;
    static constexpr std::uint64_t kSmallBlockSize = 64;
    static constexpr std::uint64_t kEntriesPerBlock = 128;
    static constexpr std::uint64_t kDifatEntriesPerBlock = 127;

    // --- header and allocation tables -------------------------------------
    // Reads and checks the header; false for a wrong signature, a file
    // shorter than a header, or a layout other than 512/64-byte blocks.
    bool LoadHeader();
    void SaveHeader();
    // Reads the block table (header slots and extension sectors, in either
    // the published form or the form whose extension holds entries
    // directly) and the small-block table. False when damaged.
    bool LoadBAT();
    // The steps of LoadBAT: the block table (with either extension form),
    // the small-block table, then the checks on the table sectors found.
    bool LoadBlockTable(const std::vector<std::uint64_t>& headerPart, std::vector<std::uint64_t>& bats,
                        std::vector<std::uint64_t>& difats);
    bool ReadPublishedExtension(std::vector<std::uint64_t>& bats, std::vector<std::uint64_t>& difats,
                                std::vector<std::int32_t>& table);
    bool ReadVariantExtension(std::vector<std::uint64_t>& bats, std::vector<std::int32_t>& table);
    bool LoadSmallBlockTable(std::vector<std::uint64_t>& sbats);
    bool AdoptTableSectors(const std::vector<std::uint64_t>& bats, const std::vector<std::uint64_t>& difats,
                           const std::vector<std::uint64_t>& sbats);
    // Reads the listed sectors as consecutive parts of one table.
    bool ReadTableSectors(const std::vector<std::uint64_t>& list, std::vector<std::int32_t>& table);
    // Writes both tables and the extension sectors back (published form).
    void SaveBAT();
    // Follows a chain; stops at the end marker, at any invalid link and at a
    // loop, so it always ends. Chains of an opened document are checked
    // when it is opened.
    void ChainBlocks(std::uint64_t start, std::vector<std::uint64_t>& chain, bool big) const;
    std::uint64_t DataSize(std::uint64_t start, bool big) const;
    // Reads a chain into buffer (DataSize bytes); returns the bytes read.
    std::uint64_t ReadData(std::uint64_t start, unsigned char* buffer, bool big);
    // Writes size bytes as the chain that starts at `start`, growing or
    // shrinking it; returns the new start (kNoBlock when size is 0).
    std::uint64_t WriteData(const unsigned char* data, std::uint64_t size, std::uint64_t start, bool big);
    std::uint64_t WriteSectors(const unsigned char* data, std::uint64_t size, std::uint64_t start);
    std::uint64_t WriteSmallBlocks(const unsigned char* data, std::uint64_t size, std::uint64_t start);
    // Cuts a chain to `length` blocks, freeing the rest; lengthens it with
    // newly allocated blocks.
    void ShortenChain(std::vector<std::uint64_t>& chain, std::uint64_t length, bool big);
    void ExtendChain(std::vector<std::uint64_t>& chain, std::uint64_t length, bool big);
    // The small-block store's bytes (the root entry's stream, at its size).
    std::vector<unsigned char> LoadSmallStore();
    // Sizes the store to the highest small block in use and zeroes the
    // blocks of the chain from `kept` on.
    void FitSmallStore(std::vector<unsigned char>& mini, const std::vector<std::uint64_t>& chain, std::size_t kept);
    // First free table entry, marked end-of-chain; extends the table when full.
    std::uint64_t AllocateBlock(bool big);
    void ExpandTable(bool big);
    void SetEntry(std::uint64_t index, std::int32_t value, bool big);
    // Cuts the listed blocks out (sectors out of the file, small blocks out
    // of the small-block store) and renumbers everything behind them.
    void FreeBlocks(std::vector<std::uint64_t> blocks, bool big);
    // The steps of FreeBlocks, which hands them sorted block lists without
    // duplicates: sectors are cut out of the file and table sectors left
    // describing nothing released; small blocks are cut out of the store,
    // their numbers renumbered, and small-table sectors left describing
    // nothing released.
    void FreeSectors(const std::vector<std::uint64_t>& sorted);
    void CutFromSmallStore(const std::vector<std::uint64_t>& sorted);
    void RenumberSmallBlocks(const std::vector<std::uint64_t>& sorted);
    void ReleaseSmallTableSectors();
    void RenumberAfterInsert(const std::vector<std::uint64_t>& sectors);
    void RenumberAfterErase(const std::vector<std::uint64_t>& sectors);

    // --- directory ----------------------------------------------------------
    bool LoadProperties();
    void SaveProperties();
    int MakeProperty(const std::u16string& path, std::unique_ptr<DirectoryEntry> entry);
    DirectoryTreeNode* FindProperty(const std::u16string& path);
    static void SplitPath(const std::u16string& path, std::u16string* parent, std::u16string& name, bool& hasParent);
    DirectoryTreeNode* FindChild(DirectoryTreeNode* node, const std::u16string& name) const;
    void AddNode(DirectoryTreeNode* parent, std::unique_ptr<DirectoryTreeNode> node);
    void DeleteNode(DirectoryTreeNode* node);
    void Relink(DirectoryTreeNode* storage);
    void ShiftIndicesUp(DirectoryTreeNode* node, std::uint64_t index);
    void ShiftIndicesDown(DirectoryTreeNode* node, std::uint64_t index);

    // --- helpers ------------------------------------------------------------
    bool StartNewDocument();
    bool LoadDocument();
    int ChangeDirectoryTo(const std::u16string& path);
    int MakeEntry(const std::u16string& path, std::uint8_t type);
    int RemoveDirectoryAt(const std::u16string& path);
    int DelTreeAt(const std::u16string& path);
    int RemoveFileAt(const std::u16string& path);
    int FileSizeAt(const std::u16string& path, std::uint64_t& size);
    int ReadFileAt(const std::u16string& path, std::vector<unsigned char>& data);
    int WriteFileAt(const std::u16string& path, const unsigned char* data, std::uint64_t size);
    std::u16string WorkingPath() const;
    // Writes directory, tables and header; kFileError when a write failed.
    int Commit();
    bool Writable() const;
    bool CheckDocument();
    void Fail() { failed_ = true; }
    std::vector<std::int32_t>& Table(bool big) { return big ? bat_ : sbat_; }
    const std::vector<std::int32_t>& Table(bool big) const { return big ? bat_ : sbat_; }
    std::uint64_t FileSectors() const;
    void ReadSector(std::uint64_t sector, unsigned char* buffer);
    void WriteSector(std::uint64_t sector, const unsigned char* buffer);
    void InsertSector(std::uint64_t sector, const unsigned char* buffer, std::int32_t marker);
    void LinkTableChain(const std::vector<std::uint64_t>& sectors);
    void EnsureDifatSectors();
    void RenumberStored(const std::vector<std::uint64_t>& sortedSectors, bool erase);

    // Holds a chain's block numbers up to date while blocks are inserted or
    // cut out under it.
    class Pin;

    std::vector<unsigned char> blockBuffer_;  // one block
    BlockFile file_;                          // sector k is block k + 1
    CompoundFileHeader header_;
    std::vector<std::int32_t> bat_;
    std::vector<std::int32_t> sbat_;
    std::unique_ptr<DirectoryTreeNode> root_;
    DirectoryTreeNode* current_ = nullptr;
    std::vector<std::unique_ptr<DirectoryEntry>> entries_;
    std::vector<DirectoryTreeNode*> savedDirectories_;

    std::vector<std::uint64_t> batSectors_;    // table sectors, header slots first
    std::vector<std::uint64_t> difatSectors_;  // extension sectors listing table sectors
    std::vector<std::uint64_t> sbatSectors_;   // small-block table sectors, in chain order
    std::vector<std::vector<std::uint64_t>*> pinnedSectors_;
    std::vector<std::vector<std::uint64_t>*> pinnedSmallBlocks_;
    std::uint64_t batSearchFrom_ = 0;  // every entry below is in use
    std::uint64_t sbatSearchFrom_ = 0;
    bool failed_ = false;  // a block read or write failed
};

}  // namespace CompoundFiles
