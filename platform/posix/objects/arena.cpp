// The machine root and its arena: the file "objects" in the root, mapped shared by every process
// of the emulated machine, and the kernel lock inside it.
//
// QUORVANE_ROOT names the root; unset or empty, it is /tmp/quorvane-machine. A missing root is
// created open to every user with the sticky bit (mode 1777, as /tmp), because Global\ names are
// machine-wide across users. The arena file is mode 0666 for the same reason: the layer itself
// decides who may open which object. Neither the root nor anything under it is reached through
// a symbolic link, and the arena must be a regular file with a single link, so a planted link
// cannot redirect our writes.
#include <errno.h>
#include <fcntl.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/objects/internal.h"
#include "platform/posix/objects/testing.h"
#include "platform/posix/root/machine_root.h"

namespace objects {

Machine g_machine = {nullptr, -1, -1, -1, 0};

namespace {

const char kArenaFileName[] = "objects";
constexpr uint64_t kArenaMagic = 0x3130534A424F5651ull;  // "QVOBJS01", little-endian
// Bumped whenever a record of internal.h changes: processes of two builds must not share a file.
constexpr uint32_t kArenaVersion = 3;
constexpr mode_t kArenaMode = 0666;

// Wakes are gathered while the kernel lock is held and delivered just before it is released:
// a waker killed after releasing the lock would otherwise leave a granted waiter asleep for
// ever, while one killed holding it has the next holder's repair wake every waiter.
thread_local uint32_t t_pendingWakes[kThreadSlots];
thread_local uint32_t t_pendingWakeCount;

size_t ArenaBytes()
{
    size_t cbPage = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    return (sizeof(Arena) + cbPage - 1) / cbPage * cbPage;
}

// One line on stderr, once, for a root that cannot serve: every call then fails, and the reason
// must not stay hidden behind an error code.
void ReportRootProblem(const char* pszRoot, const char* pszWhat, int error)
{
    static std::atomic<bool> s_reported{false};
    if (!s_reported.exchange(true)) {
        fprintf(stderr, "quorvane: machine root \"%s\": %s: %s\n", pszRoot, pszWhat,
                strerror(error));
    }
}

DWORD ErrorForErrno(int error)
{
    // A refused root (permissions, a planted link, a file where a folder should be) is access
    // denied; anything else is a lack of resources from the caller's point of view.
    bool bRefused = error == EACCES || error == EPERM || error == ELOOP || error == ENOTDIR;
    return bRefused ? ERROR_ACCESS_DENIED : ERROR_NO_SYSTEM_RESOURCES;
}

bool IsSafeArenaFile(int fd, struct stat* pStat)
{
    if (fstat(fd, pStat) != 0) {
        return false;
    }
    return S_ISREG(pStat->st_mode) && pStat->st_nlink == 1;
}

// Writes the header alone: the tables of a new file are the zeros that ftruncate gave it, never
// written (and so never resident) until used, and zero is "free" in every one of them. A creator
// that died half-way wrote nothing beyond the header either.
void InitialiseArena(Arena* pArena)
{
    memset(static_cast<void*>(pArena), 0, offsetof(Arena, nameHashes));
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
    pthread_mutex_init(&pArena->kernelLock, &attributes);
    pthread_mutexattr_destroy(&attributes);
    pArena->version = kArenaVersion;
    pArena->bytes = static_cast<uint32_t>(sizeof(Arena));
    __atomic_store_n(&pArena->magic, kArenaMagic, __ATOMIC_RELEASE);
}

// Whether the file holds an arena of ours from another build: our magic, another layout.
bool IsArenaOfAnotherBuild(int fd, const struct stat& st, size_t cbArena)
{
    struct Header {
        uint64_t magic;
        uint32_t version;
        uint32_t bytes;
    } header;
    static_assert(offsetof(Arena, magic) == offsetof(Header, magic) &&
                  offsetof(Arena, version) == offsetof(Header, version) &&
                  offsetof(Arena, bytes) == offsetof(Header, bytes));
    if (pread(fd, &header, sizeof(header), 0) != static_cast<ssize_t>(sizeof(header)) ||
        header.magic != kArenaMagic) {
        return false;
    }
    return header.version != kArenaVersion || header.bytes != sizeof(Arena) ||
           static_cast<size_t>(st.st_size) != cbArena;
}

// Whether any process holds a liveness lock on the file, wherever a build put its lock bytes.
bool IsInUse(int fd)
{
    struct flock probe;
    memset(&probe, 0, sizeof(probe));
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;  // from the start to the end of any file: every byte
    return fcntl(fd, F_OFD_GETLK, &probe) != 0 || probe.l_type != F_UNLCK;
}

// Under the file's flock: sizes a new file, initialises an arena whose creator died half-way,
// starts afresh over an arena of another build that no live process uses (an upgrade left it),
// and refuses one that is in use or is not a regular file of its own.
Arena* MapUnderFileLock(int fd, const char* pszRoot, DWORD* pError)
{
    size_t cbArena = ArenaBytes();
    struct stat st;
    if (!IsSafeArenaFile(fd, &st)) {
        ReportRootProblem(pszRoot, "the arena is not a regular file with a single link", EPERM);
        *pError = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    if (IsArenaOfAnotherBuild(fd, st, cbArena) && !IsInUse(fd)) {
        if (ftruncate(fd, 0) != 0) {
            ReportRootProblem(pszRoot, "cannot empty an unused arena of another build", errno);
            *pError = ErrorForErrno(errno);
            return nullptr;
        }
        st.st_size = 0;
    }
    if (st.st_size == 0) {
        if (st.st_uid == geteuid()) {
            fchmod(fd, kArenaMode);  // the creating open's mode went through the umask
        }
        if (ftruncate(fd, static_cast<off_t>(cbArena)) != 0) {
            ReportRootProblem(pszRoot, "cannot size the arena", errno);
            *pError = ErrorForErrno(errno);
            return nullptr;
        }
    } else if (static_cast<size_t>(st.st_size) != cbArena) {
        ReportRootProblem(pszRoot, "the arena was made by another build", EPROTO);
        *pError = ERROR_NO_SYSTEM_RESOURCES;
        return nullptr;
    }

    void* pMapping = mmap(nullptr, cbArena, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (pMapping == MAP_FAILED) {
        ReportRootProblem(pszRoot, "cannot map the arena", errno);
        *pError = ErrorForErrno(errno);
        return nullptr;
    }
    // The arena is used slot by slot, never read in sequence: read-ahead around a fault would
    // fill the page cache with zero pages of untouched tables, and the kernel would then map
    // them into this process as well. Only an optimisation, so a refusal is no failure.
    madvise(pMapping, cbArena, MADV_RANDOM);
    Arena* pArena = static_cast<Arena*>(pMapping);
    uint64_t magic = __atomic_load_n(&pArena->magic, __ATOMIC_ACQUIRE);
    if (magic == 0) {
        InitialiseArena(pArena);
    } else if (magic != kArenaMagic || pArena->version != kArenaVersion ||
               pArena->bytes != sizeof(Arena)) {
        ReportRootProblem(pszRoot, "the arena was made by another build", EPROTO);
        munmap(pMapping, cbArena);
        *pError = ERROR_NO_SYSTEM_RESOURCES;
        return nullptr;
    }
    return pArena;
}

void DeliverWake(uint32_t thread)
{
    WakeFutex(&ThreadAt(thread).wakeSequence, 1);
}

}  // namespace

bool MapArena()
{
    const std::string root = machine_root::CurrentPath();
    const char* pszRoot = root.c_str();
    // The root itself is not reached through a link either: it usually sits in a shared folder
    // where anyone could plant one in its place.
    int rootFd = machine_root::OpenRootFolder(pszRoot);
    if (rootFd < 0) {
        ReportRootProblem(pszRoot, "cannot open", errno);
        SetLastError(ErrorForErrno(errno));
        return false;
    }
    int fd = openat(rootFd, kArenaFileName, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, kArenaMode);
    if (fd < 0) {
        ReportRootProblem(pszRoot, "cannot open the arena", errno);
        SetLastError(ErrorForErrno(errno));
        close(rootFd);
        return false;
    }

    DWORD dwError = ERROR_SUCCESS;
    flock(fd, LOCK_EX);
    Arena* pArena = MapUnderFileLock(fd, pszRoot, &dwError);
    flock(fd, LOCK_UN);
    if (pArena == nullptr) {
        close(fd);
        close(rootFd);
        SetLastError(dwError);
        return false;
    }
    g_machine.arena = pArena;
    g_machine.rootFd = rootFd;
    g_machine.arenaFd = fd;
    return true;
}

int ReopenArenaFile()
{
    int fd = openat(g_machine.rootFd, kArenaFileName, O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    // The name could have been replaced since the mapping was made: the lock byte must be on
    // the very file that every process maps.
    struct stat mapped;
    struct stat reopened;
    if (fstat(g_machine.arenaFd, &mapped) != 0 || !IsSafeArenaFile(fd, &reopened) ||
        mapped.st_dev != reopened.st_dev || mapped.st_ino != reopened.st_ino) {
        close(fd);
        return -1;
    }
    return fd;
}

void UnmapArena()
{
    if (g_machine.arena != nullptr) {
        munmap(g_machine.arena, ArenaBytes());
    }
    if (g_machine.arenaFd >= 0) {
        close(g_machine.arenaFd);
    }
    if (g_machine.rootFd >= 0) {
        close(g_machine.rootFd);
    }
    g_machine.arena = nullptr;
    g_machine.arenaFd = -1;
    g_machine.rootFd = -1;
}

void LockKernel()
{
    int rc = pthread_mutex_lock(&TheArena().kernelLock);
    if (rc == EOWNERDEAD) {
        pthread_mutex_consistent(&TheArena().kernelLock);
        RepairArena();
        return;
    }
    if (rc != 0) {
        // Only a holder that unlocked without making the lock consistent could cause this, and
        // no code of ours does; going on without the lock would corrupt every process's state.
        fprintf(stderr, "quorvane: the kernel lock of the machine root failed: %s\n", strerror(rc));
        abort();
    }
}

void UnlockKernel()
{
    for (uint32_t i = 0; i < t_pendingWakeCount; i++) {
        DeliverWake(t_pendingWakes[i]);
    }
    t_pendingWakeCount = 0;
    pthread_mutex_unlock(&TheArena().kernelLock);
}

void QueueWake(uint32_t thread)
{
    std::atomic_ref<uint32_t>(ThreadAt(thread).wakeSequence)
        .fetch_add(1, std::memory_order_release);
    if (t_pendingWakeCount == kThreadSlots) {
        DeliverWake(thread);
        return;
    }
    t_pendingWakes[t_pendingWakeCount++] = thread;
}

const unsigned long long kArenaMagicForTesting = kArenaMagic;

}  // namespace objects
