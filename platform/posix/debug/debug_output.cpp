// OutputDebugStringW: the text goes to the machine root's debug-output monitor if one is
// attached, and nowhere otherwise, at the cost of one failed system call.
#include <errno.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <mutex>
#include <string>

#include "platform/posix/debug/channel.h"
#include "platform/posix/root/machine_root.h"
#include "platform/win32.h"

namespace {

struct Writer {
    int fd = -1;
    sockaddr_un address{};
    socklen_t cbAddress = 0;
};

Writer OpenWriter()
{
    Writer writer;
    std::string name = machine_root::SocketName(debug_channel::SocketSuffix());
    if (machine_root::Folder() < 0 || name.size() > sizeof(writer.address.sun_path)) {
        return writer;
    }
    writer.fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (writer.fd < 0) {
        return writer;
    }
    timeval timeout{0, static_cast<suseconds_t>(debug_channel::kSendTimeoutMs) * 1000};
    setsockopt(writer.fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
    writer.address.sun_family = AF_UNIX;
    memcpy(writer.address.sun_path, name.data(), name.size());
    writer.cbAddress = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
    return writer;
}

const Writer& TheWriter()
{
    static const Writer s_writer = OpenWriter();
    return s_writer;
}

size_t Length(LPCWSTR pszText)
{
    size_t n = 0;
    while (pszText[n] != 0) {
        n++;
    }
    return n;
}

}  // namespace

void WINAPI OutputDebugStringW(LPCWSTR lpOutputString)
{
    if (lpOutputString == nullptr) {
        return;
    }
    const Writer& writer = TheWriter();
    if (writer.fd < 0) {
        return;
    }
    // Debug output never changes what the caller sees of its own last error.
    int nSavedErrno = errno;
    DWORD dwLastError = GetLastError();

    debug_channel::PacketHeader header{debug_channel::kPacketMagic,
                                       static_cast<std::uint32_t>(getpid())};
    size_t cchText = Length(lpOutputString);
    size_t iChar = 0;
    do {
        size_t cchPiece = std::min(cchText - iChar, debug_channel::kMaxPacketChars);
        iovec parts[2] = {{&header, sizeof(header)},
                          {const_cast<WCHAR*>(lpOutputString + iChar), cchPiece * sizeof(WCHAR)}};
        msghdr message{};
        message.msg_name = const_cast<sockaddr_un*>(&writer.address);
        message.msg_namelen = writer.cbAddress;
        message.msg_iov = parts;
        message.msg_iovlen = 2;
        // No monitor (ECONNREFUSED) or one that did not keep up (EAGAIN): the text is dropped.
        if (sendmsg(writer.fd, &message, MSG_NOSIGNAL) < 0) {
            break;
        }
        iChar += cchPiece;
    } while (iChar < cchText);

    SetLastError(dwLastError);
    errno = nSavedErrno;
}
