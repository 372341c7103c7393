#include "platform/posix/root/machine_root.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace machine_root {

namespace {

constexpr char kDefaultRoot[] = "/tmp/quorvane-machine";
// Shared by every user of the machine, like /tmp: world-writable and sticky.
constexpr mode_t kRootMode = 01777;

struct Root {
    std::string path;
    int fd = -1;
    std::string socketPrefix;
};

Root OpenRoot()
{
    Root root;
    root.path = CurrentPath();
    root.fd = OpenRootFolder(root.path.c_str());
    if (root.fd < 0) {
        fprintf(stderr, "quorvane: the machine root %s cannot be used: %s\n", root.path.c_str(),
                errno == EPERM ? "it belongs to another user, or others may write in it and it "
                                 "is not sticky"
                               : strerror(errno));
        return root;
    }
    struct stat status;
    fstat(root.fd, &status);
    char szPrefix[64];
    snprintf(szPrefix, sizeof(szPrefix), "quorvane/%llx:%llx/",
             static_cast<unsigned long long>(status.st_dev),
             static_cast<unsigned long long>(status.st_ino));
    root.socketPrefix = std::string(1, '\0') + szPrefix;
    return root;
}

const Root& TheRoot()
{
    // Never destroyed: threads other than the main one (the host's sleep watch, a program's
    // own) may still deliver a message, which names the window's socket, while exit runs.
    static const Root& s_root = *new Root(OpenRoot());
    return s_root;
}

}  // namespace

std::string CurrentPath()
{
    const char* pszRoot = getenv("QUORVANE_ROOT");
    return pszRoot != nullptr && pszRoot[0] != 0 ? pszRoot : kDefaultRoot;
}

int OpenRootFolder(const char* pszPath)
{
    bool bCreated = mkdir(pszPath, 0700) == 0;
    int fd = open(pszPath, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    if (bCreated) {
        fchmod(fd, kRootMode);  // mkdir's mode went through the umask
    }
    struct stat status;
    if (fstat(fd, &status) != 0) {
        int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    bool bOwned = status.st_uid == 0 || status.st_uid == geteuid();
    bool bOpenToOthers = (status.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    if (!bOwned || (bOpenToOthers && (status.st_mode & S_ISVTX) == 0)) {
        close(fd);
        errno = EPERM;
        return -1;
    }
    return fd;
}

const std::string& Path()
{
    return TheRoot().path;
}

int Folder()
{
    return TheRoot().fd;
}

int OpenSubfolder(const char* pszName, unsigned int mode)
{
    int rootFd = Folder();
    if (rootFd < 0) {
        return -1;
    }
    if (mkdirat(rootFd, pszName, static_cast<mode_t>(mode)) == 0) {
        // mkdir's mode is cut by the umask; the folder must have exactly the mode asked for.
        int fd = openat(rootFd, pszName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0) {
            fchmod(fd, static_cast<mode_t>(mode));
        }
        return fd;
    }
    return openat(rootFd, pszName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

std::string SocketName(const std::string& suffix)
{
    return TheRoot().socketPrefix + suffix;
}

}  // namespace machine_root
