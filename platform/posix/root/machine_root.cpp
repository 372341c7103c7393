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

struct Root {
    std::string path;
    int fd = -1;
    std::string socketPrefix;
};

Root OpenRoot()
{
    Root root;
    const char* pszRoot = getenv("QUORVANE_ROOT");
    root.path = pszRoot != nullptr && pszRoot[0] != 0 ? pszRoot : kDefaultRoot;

    // Shared by every user of the machine, like /tmp: world-writable and sticky.
    if (mkdir(root.path.c_str(), 01777) == 0) {
        chmod(root.path.c_str(), 01777);
    }
    root.fd = open(root.path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (root.fd < 0) {
        fprintf(stderr, "quorvane: the machine root %s cannot be used: %s\n", root.path.c_str(),
                strerror(errno));
        return root;
    }
    if (!IsTrustworthyRoot(root.fd)) {
        fprintf(stderr,
                "quorvane: the machine root %s cannot be used: it belongs to another user, "
                "or others may write in it and it is not sticky\n",
                root.path.c_str());
        close(root.fd);
        root.fd = -1;
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

bool IsTrustworthyRoot(int fd)
{
    struct stat status;
    if (fstat(fd, &status) != 0 || !S_ISDIR(status.st_mode)) {
        return false;
    }
    if (status.st_uid != 0 && status.st_uid != geteuid()) {
        return false;
    }
    return (status.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (status.st_mode & S_ISVTX) != 0;
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
