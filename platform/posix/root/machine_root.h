// The machine root: the folder that holds one emulated machine's shared state. QUORVANE_ROOT
// names it; without it, /tmp/quorvane-machine. Every service keeps its state under it, so
// that tests can give each case a machine of its own.
#pragma once

#include <string>

namespace machine_root {

// The root's path, as the environment gave it when first asked.
const std::string& Path();

// A descriptor of the root folder (created, world-writable and sticky, if missing), opened
// without following a link; -1 when it cannot be used. The process keeps it open.
int Folder();

// The root's path as the environment gives it now: QUORVANE_ROOT, else the default. Path()
// keeps the first answer for the process; the objects' arena asks again after a test reset.
std::string CurrentPath();

// Opens a machine root folder, creating it (world-writable and sticky, like /tmp) if missing,
// never through a link. A folder found in place must be owned by the caller or by the
// superuser, and sticky when others may write in it: anyone can create a folder under the
// root's name in /tmp first, and a helper of another user (a service run by root, say) must
// not keep its state where that user may remove or replace it. Returns a descriptor the caller
// owns, or -1 with errno set; EPERM for a folder refused so.
int OpenRootFolder(const char* pszPath);

// Opens, creating it if missing, a folder inside the root with the given mode, never through
// a link. Returns a descriptor the caller owns, or -1.
int OpenSubfolder(const char* pszName, unsigned int mode);

// The name of an abstract socket that belongs to this root: "\0quorvane/<device>:<inode>/"
// and the suffix. The root's identity, not its path, keeps names short and unique.
std::string SocketName(const std::string& suffix);

}  // namespace machine_root
