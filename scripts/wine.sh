#!/usr/bin/env bash
# Runs a Windows program under Wine and exits with its exit code:
#
#   scripts/wine.sh [--prefix DIR] [--windows-version NAME] PROGRAM [ARGUMENT...]
#
# The Wine prefix (DIR, by default build/mingw/wine-prefix) is made on first use: headless,
# with no display and no Mono or Gecko installers, reporting Windows 10. Making one costs
# seconds and hundreds of megabytes, so every run shares it; the first run makes it under a
# lock while the others wait. All programs in a prefix share one wineserver and so one object
# namespace: programs that run side by side must use names of their own.
#
# --windows-version NAME (winxp64, vista, win7, win10, ...) sets the version that Wine
# reports to programs of PROGRAM's file name, leaving the rest of the prefix as it is.
set -euo pipefail

usage()
{
    echo "usage: $0 [--prefix DIR] [--windows-version NAME] PROGRAM [ARGUMENT...]" >&2
    exit 2
}

repository=$(cd "$(dirname "$0")/.." && pwd)
prefix=$repository/build/mingw/wine-prefix
windows_version=
while [ $# -gt 0 ]; do
    case $1 in
    --prefix)
        [ $# -ge 2 ] || usage
        prefix=$2
        shift 2
        ;;
    --windows-version)
        [ $# -ge 2 ] || usage
        windows_version=$2
        shift 2
        ;;
    --)
        shift
        break
        ;;
    -*) usage ;;
    *) break ;;
    esac
done
[ $# -ge 1 ] || usage
program=$1
shift

# Debian's wine64 package installs its loader and server outside PATH; other builds put them
# on PATH.
wine=$(command -v wine64 || true)
[ -n "$wine" ] || wine=/usr/lib/wine/wine64
wineserver=$(command -v wineserver || true)
[ -n "$wineserver" ] || wineserver=/usr/lib/wine/wineserver
if [ ! -x "$wine" ] || [ ! -x "$wineserver" ]; then
    echo "$0: Wine is not installed (scripts/install-debian-packages.sh installs it)" >&2
    exit 127
fi

mkdir -p "$(dirname "$prefix")"
prefix=$(cd "$(dirname "$prefix")" && pwd)/$(basename "$prefix")
export WINEPREFIX=$prefix
# Without these overrides wineboot offers to download the Mono and Gecko installers, and
# writes menu entries and file associations into $HOME.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEDEBUG=${WINEDEBUG:--all}

# Making the prefix, and starting its wineserver, happen under a lock: runs side by side wait
# for the one that does it. What starts under the lock gets neither the lock (a server that kept
# it would hold it for its whole life) nor the caller's input and output (see below).
quietly()
{
    "$@" </dev/null >/dev/null 2>&1 9>&-
}
exec 9>"$prefix.lock"
flock 9
ready_mark=$prefix/.quorvane-ready
if [ ! -e "$ready_mark" ]; then
    # A prefix without the mark is one whose making was interrupted: start afresh.
    rm -rf "$prefix"
    quietly "$wine" wineboot -i
    quietly "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
    quietly "$wine" reg add 'HKCU\Software\Wine' /v Version /d win10 /f
    touch "$ready_mark"
fi
# A prefix's wineserver ends as soon as its last program does, and the next program then waits
# a second or two for a new one and its services, while a test suite runs one short program per
# case. This server stays for a while after the last program instead (when one is running
# already, the call fails at once and that one serves). The services start with the first
# program and live as long as the server: that first program must not be the caller's, or they
# would keep its output open, and a caller that reads the output to its end (CTest) would wait
# for them.
if quietly "$wineserver" -p15; then
    quietly "$wine" reg query 'HKCU\Software\Wine' /v Version || true
fi
exec 9>&-

if [ -n "$windows_version" ]; then
    quietly "$wine" reg add "HKCU\\Software\\Wine\\AppDefaults\\$(basename "$program")" \
        /v Version /d "$windows_version" /f
fi

# Windows programs end their lines with CR LF; readers of the output here (CTest, GoogleTest's
# test listing, tests that read a child's lines) expect Unix lines. Line by line, unbuffered,
# so that a reader waiting for one line gets it when the program writes it.
"$wine" "$program" "$@" | sed -u 's/\r$//'
