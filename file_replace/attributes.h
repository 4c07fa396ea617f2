// The extended attributes of a file, its access ACL among them
// (system.posix_acl_access), carried over to the file that replaces it.
#pragma once

#include <string>

namespace FileReplace {

// Gives the open file `to` exactly the extended attributes of the file
// `from` names: each is copied, and any `to` has that `from` lacks (an ACL
// inherited from the folder) is removed. Returns 0, or the errno of the
// first attribute that could not be read, set or removed (EPERM for a
// namespace this user may not write, ENOTSUP where `to` cannot hold one);
// `to` may then hold some of them.
int CopyAttributes(const std::string& from, int to);

}  // namespace FileReplace
