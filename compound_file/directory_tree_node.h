#pragma once
// In-memory tree over the directory entry list: every storage node holds its
// members in ascending order of entry index.
#include <cstdint>
#include <memory>
#include <vector>

#include "compound_file/directory_entry.h"

namespace CompoundFiles {

struct DirectoryTreeNode {
    DirectoryTreeNode* parent = nullptr;                       // containing storage; none for the root
    DirectoryEntry* entry = nullptr;                           // owned by the compound file's entry list
    std::uint64_t index = 0;                                   // the entry's position in that list
    std::vector<std::unique_ptr<DirectoryTreeNode>> children;  // owned, ascending index

    DirectoryTreeNode() = default;
    DirectoryTreeNode(DirectoryTreeNode* parentNode, DirectoryEntry* nodeEntry, std::uint64_t nodeIndex)
        : parent(parentNode), entry(nodeEntry), index(nodeIndex) {}
    DirectoryTreeNode(const DirectoryTreeNode&) = delete;
    DirectoryTreeNode& operator=(const DirectoryTreeNode&) = delete;
    // Destroys the whole subtree without recursion, so a deep tree cannot
    // exhaust the stack.
    ~DirectoryTreeNode();
};

}  // namespace CompoundFiles
