#include "cli/replace_file.h"

#ifndef _WIN32

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

struct Attribute {
    std::string name;
    std::vector<char> value;
};

// The file's extended attributes; false when they cannot all be read.
bool ReadAttributes(const char* path, std::vector<Attribute>& attributes)
{
    const ssize_t size = listxattr(path, nullptr, 0);
    if (size < 0) return errno == ENOTSUP;  // a file system without them
    std::vector<char> names(size_t(size) + 1);
    const ssize_t got = listxattr(path, names.data(), names.size());
    if (got < 0) return false;
    for (const char* name = names.data(); name < names.data() + got;
         name += std::char_traits<char>::length(name) + 1) {
        const ssize_t length = getxattr(path, name, nullptr, 0);
        if (length < 0) return false;
        Attribute a{name, std::vector<char>(size_t(length))};
        if (getxattr(path, name, a.value.data(), a.value.size()) != length) return false;
        attributes.push_back(std::move(a));
    }
    return true;
}

bool InGroup(gid_t group)
{
    if (group == getegid()) return true;
    std::vector<gid_t> groups(size_t(std::max(getgroups(0, nullptr), 0)));
    const int n = getgroups(int(groups.size()), groups.data());
    return n > 0 && std::find(groups.begin(), groups.begin() + n, group) != groups.begin() + n;
}

// Whether a new file of ours can be given the old one's owner, group and
// attributes: root can; anyone else only their own file in one of their
// groups, with attributes of the user namespace alone.
bool CanKeep(const struct stat& old, const std::vector<Attribute>& attributes)
{
    if (geteuid() == 0) return true;
    if (old.st_uid != geteuid() || !InGroup(old.st_gid)) return false;
    return std::all_of(attributes.begin(), attributes.end(),
                       [](const Attribute& a) { return a.name.rfind("user.", 0) == 0; });
}

}  // namespace

std::FILE* ReplaceKeepingOwner(const std::filesystem::path& path)
{
    const std::string name = path.string();
    struct stat old {};
    std::vector<Attribute> attributes;
    const bool replace = lstat(name.c_str(), &old) == 0 && S_ISREG(old.st_mode) && old.st_nlink == 1 &&
                         ReadAttributes(name.c_str(), attributes) && CanKeep(old, attributes) &&
                         unlink(name.c_str()) == 0;
    if (!replace) return std::fopen(name.c_str(), "w+b");  // nothing there, or emptied in place

    const int fd = open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    // CanKeep found all of this allowed; should a step fail all the same,
    // the old file is gone and the new one is written regardless.
    const auto attempt = [](int) {};
    // The owner first: a change of owner clears the set-id bits of the mode.
    if (old.st_uid != geteuid() || old.st_gid != getegid()) attempt(fchown(fd, old.st_uid, old.st_gid));
    attempt(fchmod(fd, old.st_mode & 07777));
    for (const Attribute& a : attributes)
        attempt(fsetxattr(fd, a.name.c_str(), a.value.data(), a.value.size(), 0));
    std::FILE* file = fdopen(fd, "w+b");
    if (!file) close(fd);
    return file;
}

#endif
