#pragma once
// A disk file seen as an array of fixed-size blocks, numbered from 0 at the
// start of the file. Knows nothing of the compound-document format.
#include <cstdint>
#include <fstream>
#include <ios>
#include <vector>

namespace CompoundFiles {

class BlockFile {
public:
    BlockFile();
    BlockFile(const BlockFile&) = delete;
    BlockFile& operator=(const BlockFile&) = delete;

    // Makes an empty file (emptying one that exists) and opens it for reading
    // and writing. False when the name cannot be converted or the file cannot
    // be created.
    bool Create(const wchar_t* filename);
    bool Create(const char* filename);

    // Opens an existing file with `mode` (binary is added). False when the
    // file cannot be opened, or mode holds neither in nor out.
    bool Open(const wchar_t* filename, std::ios_base::openmode mode);
    bool Open(const char* filename, std::ios_base::openmode mode);

    // Closes the file and resets name, sizes and the block size (512).
    // Returns whether the stream is closed afterwards.
    bool Close();
    bool IsOpen() const;

    // Reads block `index` into buffer (at least BlockSize() bytes). A short
    // last block is completed with zero bytes. False without `in`, for an
    // index at or past the block count, or when the stream fails.
    bool Read(std::uint64_t index, unsigned char* buffer);

    // Reads `count` consecutive blocks from `index` into buffer
    // (count × BlockSize() bytes); same failures as Read for any of them.
    bool ReadRun(std::uint64_t index, std::uint64_t count, unsigned char* buffer);

    // Writes one block from buffer (BlockSize() bytes) at `index`; may extend
    // the file (a gap reads as zeros). False without `out` or when the write
    // or flush fails.
    bool Write(std::uint64_t index, const unsigned char* buffer);

    // Writes `count` consecutive blocks from buffer starting at `index`.
    bool WriteRun(std::uint64_t index, std::uint64_t count, const unsigned char* buffer);

    // Exchanges two blocks. False without `out`, for an index past the end,
    // or when a read or write fails (a failed write may leave one written).
    bool Swap(std::uint64_t a, std::uint64_t b);

    // Moves block `from` to `to`; the blocks between shift by one place
    // towards `from`. False without `out`, for an index past the end or on a
    // failed read or write.
    bool Move(std::uint64_t from, std::uint64_t to);

    // Inserts a block at `index`; the blocks from index on move up by one.
    // An index past the end writes there (the gap reads as zeros).
    // False without `out` or on a failed read or write.
    bool Insert(std::uint64_t index, const unsigned char* buffer);

    // Cuts block `index` out of the file; the blocks behind it move down.
    // False without both in and out, for an index past the end or on a
    // failed rewrite.
    bool Erase(std::uint64_t index);

    // Cuts every listed block out of the file in one rewrite. Duplicate
    // indices count once. False without both in and out; an index past the
    // end fails the whole call before anything is changed.
    bool Erase(const std::vector<std::uint64_t>& indices);

    std::uint64_t BlockSize() const { return blockSize_; }
    std::uint64_t BlockCount() const { return blockCount_; }
    std::uint64_t FileSize() const { return fileSize_; }

    // Sets the block size (non-zero) and recomputes the block count from the
    // file size, rounding up.
    void SetBlockSize(std::uint64_t size);

    bool CanRead() const { return (mode_ & std::ios_base::in) != 0; }
    bool CanWrite() const { return (mode_ & std::ios_base::out) != 0; }

private:
    bool OpenNarrow(const std::vector<char>& name, std::ios_base::openmode mode);
    bool Reopen();
    bool Rewrite(const std::vector<unsigned char>& content);
    void UpdateCounts();

    std::vector<char> name_;        // narrow file name with terminating zero
    std::ios_base::openmode mode_;  // as passed to Open, without binary
    std::fstream stream_;
    std::uint64_t blockSize_;
    std::uint64_t blockCount_;
    std::uint64_t fileSize_;
};

}  // namespace CompoundFiles
