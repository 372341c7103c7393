#!/usr/bin/env bash
# Runs a Windows program under Wine and exits with its exit code:
#
#   scripts/wine.sh [--prefix DIR] [--copy-of BASE] [--windows-version NAME] [--end] [--raw]
#                   [PROGRAM [ARGUMENT...]]
#
# The Wine prefix (DIR, by default build/mingw/wine-prefix) is made on first use: headless,
# with no display and no Mono or Gecko installers, reporting Windows 10. Making one costs
# seconds and hundreds of megabytes, so runs share it; the first run makes it under a lock
# while the others wait. All programs in a prefix share one wineserver and so one object
# namespace: programs that run side by side must use names of their own, or prefixes of
# their own.
#
# --copy-of BASE   makes a new DIR as a copy of the prefix BASE (made first if need be). The
#                  copy shares BASE's files by hard links and has its own registry, wineserver
#                  and object namespace: a machine of its own, ready in a fraction of a second.
# --windows-version NAME (winxp64, vista, win7, win10, ...)
#                  sets the version that Wine reports to programs of PROGRAM's file name,
#                  leaving the rest of the prefix as it is; without PROGRAM, to every program
#                  of the prefix.
# --end            ends every program of the prefix, and its wineserver, before anything else
#                  (and, alone, does nothing else).
# --raw            runs PROGRAM as this very process, with its output untouched (lines end
#                  with CR LF): a signal sent to this process reaches the program.
#
# Without PROGRAM, the prefix is made (and its settings applied) and nothing is run.
set -euo pipefail

usage()
{
    echo "usage: $0 [--prefix DIR] [--copy-of BASE] [--windows-version NAME] [--end] [--raw]" \
        "[PROGRAM [ARGUMENT...]]" >&2
    exit 2
}

repository=$(cd "$(dirname "$0")/.." && pwd)
prefix=$repository/build/mingw/wine-prefix
base=
windows_version=
end=
raw=
while [ $# -gt 0 ]; do
    case $1 in
    --prefix | --copy-of | --windows-version)
        [ $# -ge 2 ] || usage
        case $1 in
        --prefix) prefix=$2 ;;
        --copy-of) base=$2 ;;
        --windows-version) windows_version=$2 ;;
        esac
        shift 2
        ;;
    --end)
        end=1
        shift
        ;;
    --raw)
        raw=1
        shift
        ;;
    --)
        shift
        break
        ;;
    -*) usage ;;
    *) break ;;
    esac
done

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

absolute()
{
    mkdir -p "$(dirname "$1")"
    echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
}
prefix=$(absolute "$prefix")
[ -z "$base" ] || base=$(absolute "$base")

# Without these overrides wineboot offers to download the Mono and Gecko installers, and
# writes menu entries and file associations into $HOME.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEDEBUG=${WINEDEBUG:--all}

# What starts under a prefix's lock gets neither the lock (a server that kept it would hold it
# for its whole life) nor the caller's input and output (see below).
quietly()
{
    "$@" </dev/null >/dev/null 2>&1 9>&-
}

# Makes the prefix named by $WINEPREFIX unless it is ready, then makes sure its wineserver
# runs. Runs side by side wait for the one that does it.
prepare()
{
    exec 9>"$WINEPREFIX.lock"
    flock 9
    local ready_mark=$WINEPREFIX/.quorvane-ready
    if [ ! -e "$ready_mark" ]; then
        # A prefix without the mark is one whose making was interrupted: start afresh.
        rm -rf "$WINEPREFIX"
        if [ -n "${1:-}" ]; then
            # The registry files are real copies: the wineserver rewrites them.
            cp -al "$1" "$WINEPREFIX"
            rm -f "$WINEPREFIX"/*.reg
            cp "$1"/*.reg "$WINEPREFIX"/
        else
            quietly "$wine" wineboot -i
            quietly "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
            quietly "$wine" reg add 'HKCU\Software\Wine' /v Version /d win10 /f
            # The registry reaches its files only when the server ends: a copy of the prefix
            # (--copy-of) needs them.
            "$wineserver" -w
        fi
        touch "$ready_mark"
    fi
    # A prefix's wineserver ends as soon as its last program does, and the next program then
    # waits a second or two for a new one and its services, while a test suite runs one short
    # program per case. This server stays for a while after the last program instead (when one
    # is running already, the call fails at once and that one serves). The services start with
    # the first program and live as long as the server: that first program must not be the
    # caller's, or they would keep its output open, and a caller that reads the output to its
    # end (CTest) would wait for them.
    if quietly "$wineserver" -p15; then
        quietly "$wine" reg query 'HKCU\Software\Wine' /v Version || true
    fi
    exec 9>&-
}

if [ -n "$base" ]; then
    # A copy may be taken while the base's server runs: it replaces a registry file by renaming
    # a complete new one over it, so a copy never sees half of one.
    (
        export WINEPREFIX=$base
        prepare
    )
fi
export WINEPREFIX=$prefix
if [ -n "$end" ]; then
    "$wineserver" -k 2>/dev/null || true
    "$wineserver" -w
    [ $# -ge 1 ] || [ -n "$windows_version" ] || [ -n "$base" ] || exit 0
fi
prepare "$base"

if [ -n "$windows_version" ]; then
    key='HKCU\Software\Wine'
    [ $# -eq 0 ] || key="$key\\AppDefaults\\$(basename "$1")"
    quietly "$wine" reg add "$key" /v Version /d "$windows_version" /f
fi
[ $# -ge 1 ] || exit 0

if [ -n "$raw" ]; then
    exec "$wine" "$@"
fi
# Windows programs end their lines with CR LF; readers of the output here (CTest, GoogleTest's
# test listing, tests that read a child's lines) expect Unix lines. Line by line, unbuffered,
# so that a reader waiting for one line gets it when the program writes it.
"$wine" "$@" | sed -u 's/\r$//'
