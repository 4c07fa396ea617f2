// The permissions a replaced file keeps include its ACL and its extended
// attributes, and it gains none the folder would hand a new file. ACLs are
// set and read with setfacl and getfacl (Debian's acl package).
#include <sys/xattr.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/file_replace/replace_fixture.h"

using Failure = FileReplace::Outcome::Failure;

namespace {

// What a command prints; "" when it fails.
std::string Shell(const std::string& command) {
    std::string out;
    FILE* p = popen((command + " 2>/dev/null").c_str(), "r");
    if (p == nullptr) return out;
    char buffer[256];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
    return pclose(p) == 0 ? out : "";
}

std::string Attribute(const std::string& path, const char* name) {
    char value[256];
    const ssize_t n = getxattr(path.c_str(), name, value, sizeof value);
    return n < 0 ? "(none)" : std::string(value, static_cast<std::size_t>(n));
}

}  // namespace

TEST_F(ReplaceFolder, TheAclAndTheAttributesAreKept) {
    Write(Path("a"), "old");
    if (setxattr(Path("a").c_str(), "user.origin", "camera 2", 8, 0) != 0)
        GTEST_SKIP() << "this file system holds no user attributes (" << errno << ")";
    if (Shell("setfacl -m u:nobody:rw " + Path("a")).empty() && Shell("getfacl -p " + Path("a")).empty())
        GTEST_SKIP() << "setfacl and getfacl are not installed";
    ASSERT_NE(Shell("getfacl -p " + Path("a")).find("user:nobody:rw-"), std::string::npos) << "no ACL was set";
    const std::string acl = Attribute(Path("a"), "system.posix_acl_access");
    const mode_t mode = Status(Path("a")).st_mode & 07777;

    ASSERT_EQ(Replace(Path("a"), "new").failure, Failure::None);
    EXPECT_EQ(Contents(Path("a")), "new");
    const std::string shown = Shell("getfacl -p " + Path("a"));
    EXPECT_NE(shown.find("user:nobody:rw-"), std::string::npos) << shown;
    EXPECT_NE(shown.find("mask::rw-"), std::string::npos) << shown;
    EXPECT_EQ(Attribute(Path("a"), "system.posix_acl_access"), acl);
    EXPECT_EQ(Status(Path("a")).st_mode & 07777, mode);
    EXPECT_EQ(Attribute(Path("a"), "user.origin"), "camera 2");
}

// A new file in a folder with a default ACL gets an ACL from it; the file
// it replaces had none, so the replaced file has none either.
TEST_F(ReplaceFolder, NoAclTheOldFileLackedIsAdded) {
    Write(Path("a"), "old");
    ASSERT_EQ(chmod(Path("a").c_str(), 0640), 0);
    if (Shell("setfacl -d -m u:nobody:rwx " + dir + " && echo set").empty())
        GTEST_SKIP() << "setfacl is not installed, or this file system holds no ACLs";
    ASSERT_EQ(Attribute(Path("a"), "system.posix_acl_access"), "(none)");
    ASSERT_EQ(Replace(Path("a"), "new").failure, Failure::None);
    EXPECT_EQ(Attribute(Path("a"), "system.posix_acl_access"), "(none)");
    EXPECT_EQ(Status(Path("a")).st_mode & 07777, 0640u);
}

// Attributes the new file cannot take (a namespace this user may not
// write) are kept by copying the new contents into the old file instead.
TEST_F(ReplaceFolder, AttributesTheNewFileCannotTakeAreKeptInPlace) {
    Write(Path("a"), "old");
    if (setxattr(Path("a").c_str(), "user.origin", "camera 2", 8, 0) != 0)
        GTEST_SKIP() << "this file system holds no user attributes (" << errno << ")";
    FileReplace::seams.copyAttributes = [](const std::string&, int) { return EPERM; };
    const ino_t old = Status(Path("a")).st_ino;
    ASSERT_EQ(Replace(Path("a"), "new").failure, Failure::None);
    EXPECT_EQ(Contents(Path("a")), "new");
    EXPECT_EQ(Status(Path("a")).st_ino, old) << "renamed: the attributes the new file lacked are lost";
    EXPECT_EQ(Attribute(Path("a"), "user.origin"), "camera 2");
}
