#!/usr/bin/env bash
# A private CUPS scheduler for tests: its own configuration, spool, state and socket in one
# folder, reachable only through that socket (no TCP port, no browsing, no DNS-SD), so that
# several test processes can each run one side by side without touching the machine's CUPS.
#
#   private_cupsd.sh start DIR                      configure and start; returns once it answers
#   private_cupsd.sh queue DIR NAME MODEL [disabled] a queue whose make-and-model is MODEL
#   private_cupsd.sh job DIR QUEUE                  submit a small job; prints the job id
#   private_cupsd.sh stop DIR                       stop that scheduler and wait for its end
#
# Clients reach it with CUPS_SERVER=DIR/cups.sock. DIR should be short (a mkdtemp folder under
# /tmp): the socket's path must fit in the 108 bytes of sun_path. MODEL goes into a PPD string,
# so it holds no '"'. Prints nothing but errors (and `job` its job id); `start` exits with 77
# when cupsd is missing or we are not root (tests skip on 77).
#
# Should the process that ran `start` end without `stop` (a test that crashed), the scheduler is
# stopped a second or two later, so that none outlives its test. PRIVATE_CUPSD_OWNER=PID names
# another process to outlive (a caller that runs this script through a short-lived shell);
# PRIVATE_CUPSD_OWNER=0 keeps the scheduler until `stop`.
#
# A scheduler that does not answer within 20 s of its start (PRIVATE_CUPSD_START_SECONDS, for
# tests of this script) is stopped, and `start` fails.
set -euo pipefail

readonly kSkip=77
# Generous: a loaded machine, not a slow scheduler, takes this long.
readonly kStartSeconds=${PRIVATE_CUPSD_START_SECONDS:-20}

fail() {
  echo "private_cupsd.sh: $*" >&2
  exit 1
}

usage() {
  echo "usage: private_cupsd.sh start|stop DIR | queue DIR NAME MODEL [disabled] | job DIR QUEUE" >&2
  exit 2
}

server_env() {
  export CUPS_SERVER="$1/cups.sock"
}

write_config() {
  local dir=$1
  cat >"$dir/cups-files.conf" <<CONF
ServerRoot $dir
RequestRoot $dir/spool
TempDir $dir/spool/tmp
CacheDir $dir/cache
StateDir $dir/state
ServerKeychain $dir/state/ssl
CreateSelfSignedCerts no
ErrorLog $dir/logs/error_log
AccessLog $dir/logs/access_log
PageLog $dir/logs/page_log
Printcap $dir/state/printcap
User lp
Group lp
SystemGroup root
FileDevice Yes
CONF
  cat >"$dir/cupsd.conf" <<CONF
Listen $dir/cups.sock
Browsing No
BrowseLocalProtocols none
DefaultShared No
WebInterface No
LogLevel warn
MaxLogSize 0
DefaultAuthType None
<Policy default>
  JobPrivateAccess default
  JobPrivateValues default
  SubscriptionPrivateAccess default
  SubscriptionPrivateValues default
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
# For tests of a refusal: a queue given this policy (lpadmin -o printer-op-policy=refuse) answers
# no one but a user that does not exist. Administration keeps the default policy.
<Policy refuse>
  JobPrivateAccess default
  JobPrivateValues default
  SubscriptionPrivateAccess default
  SubscriptionPrivateValues default
  <Limit All>
    AuthType Default
    Require user quorvane-nobody
  </Limit>
</Policy>
CONF
}

start() {
  local dir=$1
  if ! command -v cupsd >/dev/null 2>&1 && [ ! -x /usr/sbin/cupsd ]; then
    echo "private_cupsd.sh: cupsd is not installed (Debian: apt-get install cups)" >&2
    exit $kSkip
  fi
  if [ "$(id -u)" -ne 0 ]; then
    echo "private_cupsd.sh: a private cupsd needs root (it runs its filters as user lp)" >&2
    exit $kSkip
  fi
  if [ -f "$dir/cupsd.pid" ] && running "$(cat "$dir/cupsd.pid")"; then
    fail "a scheduler already runs in $dir"
  fi
  local sock="$dir/cups.sock"
  [ ${#sock} -lt 108 ] || fail "socket path too long for sun_path: $sock"
  mkdir -p "$dir"/{spool/tmp,cache,state,logs,ppd}
  # The scheduler's children run as lp and must reach the spool through these folders.
  chmod 755 "$dir"
  write_config "$dir"
  local cupsd
  cupsd=$(command -v cupsd || echo /usr/sbin/cupsd)
  "$cupsd" -f -c "$dir/cupsd.conf" -s "$dir/cups-files.conf" </dev/null >"$dir/logs/cupsd.out" 2>&1 &
  echo $! >"$dir/cupsd.pid"
  server_env "$dir"
  local deadline=$((SECONDS + kStartSeconds))
  # lpstat -r exits 0 either way; only its words tell.
  until [ "$(lpstat -r 2>/dev/null)" = "scheduler is running" ]; do
    if ! running "$(cat "$dir/cupsd.pid")"; then
      fail "cupsd ended at start: $(cat "$dir/logs/cupsd.out" "$dir/logs/error_log" 2>/dev/null)"
    fi
    if [ $SECONDS -ge $deadline ]; then
      stop_scheduler "$dir"
      fail "cupsd did not answer within $kStartSeconds s"
    fi
    sleep 0.05
  done
  local owner=${PRIVATE_CUPSD_OWNER:-$PPID}
  if [ "$owner" != 0 ]; then
    # The watch must not hold the caller's output open, or a caller reading it to its end waits.
    bash "${BASH_SOURCE[0]}" watch "$dir" "$owner" </dev/null >/dev/null 2>&1 &
    echo $! >"$dir/watch.pid"
  fi
}

# A PPD that accepts raw jobs only: no filter runs, and its *NickName is the queue's
# make-and-model.
write_ppd() {
  local file=$1 model=$2
  cat >"$file" <<PPD
*PPD-Adobe: "4.3"
*FormatVersion: "4.3"
*FileVersion: "1.0"
*LanguageVersion: English
*LanguageEncoding: UTF-8
*PCFileName: "QVTEST.PPD"
*Manufacturer: "Quorvane Tests"
*Product: "(Test Queue)"
*ModelName: "$model"
*ShortNickName: "$model"
*NickName: "$model"
*PSVersion: "(3010.000) 0"
*LanguageLevel: "3"
*ColorDevice: False
*DefaultColorSpace: Gray
*FileSystem: False
*Throughput: "1"
*TTRasterizer: Type42
*cupsFilter: "application/vnd.cups-raw 0 -"
*OpenUI *PageSize/Media Size: PickOne
*OrderDependency: 10 AnySetup *PageSize
*DefaultPageSize: A4
*PageSize A4/A4: "<</PageSize[595 842]>>setpagedevice"
*CloseUI: *PageSize
*OpenUI *PageRegion: PickOne
*OrderDependency: 10 AnySetup *PageRegion
*DefaultPageRegion: A4
*PageRegion A4/A4: "<</PageSize[595 842]>>setpagedevice"
*CloseUI: *PageRegion
*DefaultImageableArea: A4
*ImageableArea A4/A4: "18 18 577 824"
*DefaultPaperDimension: A4
*PaperDimension A4/A4: "595 842"
PPD
}

queue() {
  local dir=$1 name=$2 model=$3 state=${4:-enabled}
  case $state in enabled | disabled) ;; *) usage ;; esac
  server_env "$dir"
  local ppd
  ppd=$(mktemp "$dir/spool/tmp/queue-XXXXXX.ppd")
  write_ppd "$ppd" "$model"
  # lpadmin warns that PPD files are deprecated; only its failures matter here.
  lpadmin -p "$name" -E -v file:///dev/null -P "$ppd" 2>"$ppd.err" ||
    fail "lpadmin $name: $(cat "$ppd.err")"
  rm -f "$ppd" "$ppd.err"
  if [ "$state" = disabled ]; then
    cupsdisable "$name" || fail "cupsdisable $name"
  fi
}

job() {
  local dir=$1 queue=$2
  server_env "$dir"
  local out
  out=$(printf 'quorvane test job\n' | lp -d "$queue" -o raw -t quorvane-test 2>&1) ||
    fail "lp $queue: $out"
  # "request id is QUEUE-ID (1 file(s))"
  out=${out#request id is }
  out=${out%% *}
  echo "${out##*-}"
}

# Whether a process runs. An ended scheduler is nobody's child (its starter has exited) and may
# stay a zombie until init reaps it: that counts as ended.
running() {
  local pid=$1 stat
  stat=$(cat "/proc/$pid/stat" 2>/dev/null) || return 1
  stat=${stat##*) }
  [ "${stat%% *}" != Z ]
}

# Stops this folder's scheduler, and only it: the pid must still be a cupsd started with our
# configuration.
stop_scheduler() {
  local dir=$1
  [ -f "$dir/cupsd.pid" ] || return 0
  local pid
  pid=$(cat "$dir/cupsd.pid")
  if [ -r "/proc/$pid/cmdline" ] && tr '\0' ' ' <"/proc/$pid/cmdline" | grep -qF -- "-c $dir/cupsd.conf"; then
    kill -TERM "$pid" 2>/dev/null || true
    local deadline=$((SECONDS + kStartSeconds))
    while running "$pid"; do
      if [ $SECONDS -ge $deadline ]; then
        kill -KILL "$pid" 2>/dev/null || true
      fi
      sleep 0.05
    done
  fi
  rm -f "$dir/cupsd.pid"
}

stop() {
  local dir=$1
  if [ -f "$dir/watch.pid" ]; then
    kill -TERM "$(cat "$dir/watch.pid")" 2>/dev/null || true
    rm -f "$dir/watch.pid"
  fi
  stop_scheduler "$dir"
}

# Internal: waits for the owner's end, then stops the scheduler. A shell has no way to sleep
# until another process ends, so it looks once a second.
watch() {
  local dir=$1 owner=$2
  while running "$owner"; do
    sleep 1
  done
  stop_scheduler "$dir"
  rm -f "$dir/watch.pid"
}

[ $# -ge 2 ] || usage
command=$1
dir=${2%/}
shift 2
case $command in
  start) [ $# -eq 0 ] || usage; start "$dir" ;;
  queue) [ $# -eq 2 ] || [ $# -eq 3 ] || usage; queue "$dir" "$@" ;;
  job) [ $# -eq 1 ] || usage; job "$dir" "$1" ;;
  stop) [ $# -eq 0 ] || usage; stop "$dir" ;;
  watch) [ $# -eq 1 ] || usage; watch "$dir" "$1" ;;
  *) usage ;;
esac
