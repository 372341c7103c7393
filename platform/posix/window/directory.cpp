// Where windows are published: "<root>/windows/<handle>" holds a window's class and title, and
// an abstract socket named after the root and the handle is where the window listens.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/posix/root/machine_root.h"
#include "platform/posix/window/internal.h"

namespace window_service {

namespace {

constexpr std::uint32_t kEntryMagic = 0x4e575651;  // "QVWN"

struct Directory {
    int fd = -1;  // "<root>/windows", opened without following links
};

Directory OpenDirectory()
{
    Directory directory;
    // Every user publishes windows here; the sticky bit keeps each user's entries their own.
    directory.fd = machine_root::OpenSubfolder("windows", 01777);
    return directory;
}

const Directory& TheDirectory()
{
    static const Directory s_directory = OpenDirectory();
    return s_directory;
}

std::string HexName(ULONG_PTR value)
{
    char szName[17];
    snprintf(szName, sizeof(szName), "%016llx", value);
    return szName;
}

bool ParseHexName(const char* pszName, ULONG_PTR* pValue)
{
    if (strlen(pszName) != 16) {
        return false;
    }
    ULONG_PTR value = 0;
    for (const char* p = pszName; *p != 0; p++) {
        int digit = *p >= '0' && *p <= '9' ? *p - '0' : *p >= 'a' && *p <= 'f' ? *p - 'a' + 10 : -1;
        if (digit < 0) {
            return false;
        }
        value = value << 4 | static_cast<ULONG_PTR>(digit);
    }
    *pValue = value;
    return true;
}

bool WriteAll(int fd, const void* pData, size_t cbData)
{
    const char* p = static_cast<const char*>(pData);
    while (cbData > 0) {
        ssize_t cbWritten = write(fd, p, cbData);
        if (cbWritten < 0 && errno == EINTR) {
            continue;
        }
        if (cbWritten <= 0) {
            return false;
        }
        p += cbWritten;
        cbData -= static_cast<size_t>(cbWritten);
    }
    return true;
}

}  // namespace

namespace {

// The window's socket, as an address: short whatever the root's path, and gone with its owner.
socklen_t WindowAddress(ULONG_PTR hwnd, sockaddr_un* pAddress)
{
    std::string name = machine_root::SocketName("windows/" + HexName(hwnd));
    *pAddress = sockaddr_un{};
    pAddress->sun_family = AF_UNIX;
    memcpy(pAddress->sun_path, name.data(), name.size());
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
}

}  // namespace

int ConnectToWindow(ULONG_PTR hwnd)
{
    if (TheDirectory().fd < 0) {
        errno = ENOENT;  // without the machine's folder no window of it can be reached
        return -1;
    }
    sockaddr_un address;
    socklen_t cbAddress = WindowAddress(hwnd, &address);
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), cbAddress) != 0) {
        int nError = errno;
        close(fd);
        errno = nError;
        return -1;
    }
    return fd;
}

int ListenAsWindow(ULONG_PTR hwnd)
{
    if (TheDirectory().fd < 0) {
        return -1;
    }
    sockaddr_un address;
    socklen_t cbAddress = WindowAddress(hwnd, &address);
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return -1;
    }
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), cbAddress) != 0 || listen(fd, 64) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool PublishWindowEntry(ULONG_PTR hwnd, const std::u16string& className,
                        const std::u16string& title)
{
    int dirFd = TheDirectory().fd;
    if (dirFd < 0) {
        return false;
    }
    // Written aside and renamed into place, so a reader never sees half an entry.
    std::string finalName = HexName(hwnd);
    std::string tempName = "." + finalName + ".new";
    int fd = openat(dirFd, tempName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC,
                    0644);
    if (fd < 0) {
        return false;
    }
    std::uint32_t header[3] = {kEntryMagic, static_cast<std::uint32_t>(className.size()),
                               static_cast<std::uint32_t>(title.size())};
    bool bWritten = WriteAll(fd, header, sizeof(header)) &&
                    WriteAll(fd, className.data(), className.size() * sizeof(char16_t)) &&
                    WriteAll(fd, title.data(), title.size() * sizeof(char16_t));
    close(fd);
    if (!bWritten || renameat(dirFd, tempName.c_str(), dirFd, finalName.c_str()) != 0) {
        unlinkat(dirFd, tempName.c_str(), 0);
        return false;
    }
    return true;
}

void RemoveWindowEntry(ULONG_PTR hwnd)
{
    int dirFd = TheDirectory().fd;
    if (dirFd >= 0) {
        unlinkat(dirFd, HexName(hwnd).c_str(), 0);
    }
}

bool ReadWindowEntry(ULONG_PTR hwnd, std::u16string* pClassName, std::u16string* pTitle)
{
    int dirFd = TheDirectory().fd;
    if (dirFd < 0) {
        return false;
    }
    // Anyone may create files here: what is not a regular file (a FIFO would block the open
    // and the read) is no entry.
    int fd = openat(dirFd, HexName(hwnd).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    struct stat status;
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(fd);
        return false;
    }
    // An entry holds two names of at most a few hundred characters; anything larger, shorter
    // than it says, or without the magic is not an entry.
    char buffer[8192];
    ssize_t cbRead = read(fd, buffer, sizeof(buffer));
    close(fd);
    std::uint32_t header[3];
    if (cbRead < static_cast<ssize_t>(sizeof(header))) {
        return false;
    }
    memcpy(header, buffer, sizeof(header));
    size_t cbNames = (static_cast<size_t>(header[1]) + header[2]) * sizeof(char16_t);
    if (header[0] != kEntryMagic || cbNames != static_cast<size_t>(cbRead) - sizeof(header)) {
        return false;
    }
    std::u16string names(header[1] + header[2], u'\0');
    memcpy(names.data(), buffer + sizeof(header), cbNames);
    *pClassName = names.substr(0, header[1]);
    *pTitle = names.substr(header[1]);
    return true;
}

std::vector<ULONG_PTR> PublishedWindows()
{
    std::vector<ULONG_PTR> handles;
    int dirFd = TheDirectory().fd;
    if (dirFd < 0) {
        return handles;
    }
    int fd = openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* pDir = fdopendir(fd);
    if (pDir == nullptr) {
        close(fd);
        return handles;
    }
    while (dirent* pEntry = readdir(pDir)) {
        ULONG_PTR hwnd = 0;
        if (ParseHexName(pEntry->d_name, &hwnd)) {
            handles.push_back(hwnd);
        }
    }
    closedir(pDir);
    return handles;
}

}  // namespace window_service
