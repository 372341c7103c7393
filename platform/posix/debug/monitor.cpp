// The receiving end of the debug output channel.
#include <errno.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>

#include "platform/posix/debug/channel.h"
#include "platform/posix/include/quorvane_debug_monitor.h"
#include "platform/posix/root/machine_root.h"

namespace debug_channel {

const char* SocketSuffix()
{
    return "debug";
}

}  // namespace debug_channel

int QuorvaneAttachDebugMonitor(void)
{
    std::string name = machine_root::SocketName(debug_channel::SocketSuffix());
    sockaddr_un address{};
    if (machine_root::Folder() < 0 || name.size() > sizeof(address.sun_path)) {
        errno = ENOENT;
        return -1;
    }
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    // Room for bursts, so that writers rarely wait for the monitor.
    int cbBuffer = 4 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &cbBuffer, sizeof(cbBuffer));
    address.sun_family = AF_UNIX;
    memcpy(address.sun_path, name.data(), name.size());
    socklen_t cbAddress = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), cbAddress) != 0) {
        int nError = errno;
        close(fd);
        errno = nError;
        return -1;
    }
    return fd;
}

int QuorvaneReceiveDebugMessage(int monitorFd, int nTimeoutMs, DWORD* pdwProcessId, WCHAR* pszText,
                                size_t cchText)
{
    if (pszText == nullptr || cchText == 0) {
        errno = EINVAL;
        return -1;
    }
    for (;;) {
        pollfd pfd{monitorFd, POLLIN, 0};
        int nReady = poll(&pfd, 1, nTimeoutMs);
        if (nReady < 0) {
            return -1;
        }
        if (nReady == 0) {
            return 0;
        }
        alignas(4) char packet[sizeof(debug_channel::PacketHeader) +
                               debug_channel::kMaxPacketChars * sizeof(WCHAR)];
        ssize_t cbPacket = recv(monitorFd, packet, sizeof(packet), MSG_DONTWAIT);
        if (cbPacket < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                continue;
            }
            return -1;
        }
        // Anyone on the machine can write to the channel: what is not a packet is skipped.
        debug_channel::PacketHeader header;
        size_t cbText = static_cast<size_t>(cbPacket) - sizeof(header);
        if (static_cast<size_t>(cbPacket) < sizeof(header) || cbText % sizeof(WCHAR) != 0) {
            continue;
        }
        memcpy(&header, packet, sizeof(header));
        if (header.magic != debug_channel::kPacketMagic) {
            continue;
        }
        size_t cchStored = std::min(cbText / sizeof(WCHAR), cchText - 1);
        memcpy(pszText, packet + sizeof(header), cchStored * sizeof(WCHAR));
        pszText[cchStored] = 0;
        if (pdwProcessId != nullptr) {
            *pdwProcessId = header.processId;
        }
        return static_cast<int>(cchStored);
    }
}

void QuorvaneDetachDebugMonitor(int monitorFd)
{
    if (monitorFd >= 0) {
        close(monitorFd);
    }
}
