#!/usr/bin/env python3
"""Plays one end-to-end scenario with real processes: the helper, the port side
(quorvane-port), the power side (quorvane-power) and the trace monitor (quorvane-trace).

    run_scenario.py --bin BUILD_DIR [--host linux | --host wine --wine-prefix DIR] SCENARIO_FILE

A scenario is a list of steps, one per line; lines starting with "> " after a step are the
output that step must print, and the block after "trace" is the debug output expected from
the whole run. "#" starts a comment. The steps:

    hosts HOST...              the hosts the scenario is for (linux, wine; both when absent);
                               on another host it is skipped (exit 77). First, if given.
    version MAJOR.MINOR        the Windows version the programs see (before anything starts):
                               5.2, 6.0, 6.1, 6.2, 6.3 or 10.0 on both hosts; 5.0 and 5.1 on
                               Linux only
    spooler                    start the machine's print spooler (Linux: a private CUPS)
    queue NAME MODEL... [disabled]
                               a printer queue whose driver is MODEL; a disabled one keeps
                               its jobs queued
    job QUEUE                  submit a print job to the queue
    cancel QUEUE               cancel every job of the queue
    logind                     start the machine's system bus with a stand-in for
                               systemd-logind's manager on it (Linux)
    logind sleep | wake        the manager announces a sleep (PrepareForSleep true) or a wake
    inhibitor taken | released [in A..B]
                               the next change to the manager's sleep inhibitors must be this
                               one ("taken": a "sleep" inhibitor in "delay" mode), optionally
                               within A to B seconds
    helper [NAME]              start a helper and wait for its window
    second-helper              start another helper; it must end at once with status 0
    port ARGS...               run quorvane-port; it must exit 0
    port-fails CODE ARGS...    run quorvane-port; it must exit with CODE
    hold NAME KEY SECONDS      quorvane-port hold in the background, once it printed "held"
    power ARGS... [in A..B]    run quorvane-power, optionally within A to B seconds; it must
                               exit 0
    power-fails CODE ARGS... [in A..B]
                               the same; it must exit with CODE
    power& NAME ARGS...        the same in the background
    wait NAME [in A..B]        wait for a background step to end (status 0), optionally timed
    kill NAME                  kill a process at once (SIGKILL, on both hosts)
    terminate NAME             ask the helper to end (SIGTERM on Linux; on Windows, as the
                               system does, WM_CLOSE to its windows)
    exits NAME CODE            the process must end with CODE
    sleep SECONDS
    trace                      followed by the expected lines; "*" stands for a handle value

Each run gets a machine of its own: a fresh QUORVANE_ROOT on Linux, a fresh copy of the build's
Wine prefix under Wine. One scenario serves both hosts, with the same expected output and trace.
"""

import argparse
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

START_TIMEOUT = 10.0
STEP_TIMEOUT = 60.0
REPOSITORY = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
WINE_SCRIPT = os.path.join(REPOSITORY, "scripts", "wine.sh")
CUPSD_SCRIPT = os.path.join(REPOSITORY, "tests", "spooler", "private_cupsd.sh")
SKIPPED = 77

# A system bus of the machine's own: everything is allowed to everybody on it, and nothing is
# ever activated, so a call to a name that nobody owns fails at once.
BUS_CONFIGURATION = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=%s</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
"""


class ScenarioError(Exception):
    pass


class ScenarioSkipped(Exception):
    """The machine cannot play the scenario (a service it needs is not installed)."""


def lines_of(output):
    """A program's output as lines, whether they end with LF (Linux) or CR LF (Windows)."""
    return output.decode("utf-8", "replace").replace("\r\n", "\n").splitlines()


def helper_answers(lines):
    """quorvane-power's lines without the answers of other programs' windows: Windows (and
    Wine) have top-level windows of their own, which answer a broadcast too. The helper's
    window class is QUORVANE; lines without a space name the events of a cycle."""
    return [line for line in lines if line.startswith("QUORVANE ") or " " not in line]


def read_line(stream, what, timeout=START_TIMEOUT):
    """The next line of a child's output; a child that says nothing in time is a failure,
    not a hang. The stream must be unbuffered (bufsize=0): a buffered one may have read the
    next line already, and select() would then wait for more in vain."""
    ready, _, _ = select.select([stream], [], [], timeout)
    if not ready:
        raise ScenarioError("%s said nothing within %g s" % (what, timeout))
    return stream.readline()


class Machine:
    """The processes of one run, on a machine of its own."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="quorvane-e2e-")
        self.processes = {}
        self.trace = None
        self.trace_file = open(os.path.join(self.root, "trace.out"), "w+b")

    def start(self, tool, args, **kwargs):
        return subprocess.Popen(self.command(tool, args), env=self.env, bufsize=0, **kwargs)

    def run(self, tool, args, timeout=STEP_TIMEOUT):
        began = time.monotonic()
        done = subprocess.run(self.command(tool, args), env=self.env, capture_output=True,
                              timeout=timeout)
        return done, time.monotonic() - began

    def start_trace(self):
        self.trace = self.start("quorvane-trace", [], stdout=self.trace_file,
                                stderr=subprocess.PIPE)
        line = read_line(self.trace.stderr, "quorvane-trace")
        if line.strip() != b"listening":
            raise ScenarioError("quorvane-trace did not start: %r" % line)

    def stop_trace(self):
        # The monitor prints what was written before it was stopped, then ends.
        self.trace.send_signal(signal.SIGINT)
        self.trace.wait(timeout=STEP_TIMEOUT)
        self.trace_file.seek(0)
        return lines_of(self.trace_file.read())

    def close(self, keep_root):
        for process in list(self.processes.values()) + ([self.trace] if self.trace else []):
            if process.poll() is None:
                process.kill()
                process.wait()
        self.trace_file.close()
        self.stop_services()
        if keep_root:
            print("the machine root is kept for a look: " + self.root, file=sys.stderr)
        else:
            remove_tree(self.root)

    def stop_services(self):
        """Ends what the machine runs besides the scenario's processes."""


class LinuxMachine(Machine):
    """A fresh QUORVANE_ROOT: the programs' objects, windows and debug channel are its own."""

    def __init__(self, bin_dir):
        super().__init__()
        self.bin_dir = bin_dir
        self.env = dict(os.environ, QUORVANE_ROOT=self.root)

    def command(self, tool, args):
        return [os.path.join(self.bin_dir, tool)] + args

    def set_version(self, version):
        self.env["QUORVANE_WINVER"] = version

    def terminate(self, name):
        self.processes[name].send_signal(signal.SIGTERM)

    def spooler(self, command, *args):
        done = subprocess.run([CUPSD_SCRIPT, command, self.spooler_dir] + list(args),
                              env=self.env, capture_output=True, timeout=STEP_TIMEOUT)
        if done.returncode == SKIPPED:
            raise ScenarioSkipped(done.stderr.decode().strip())
        if done.returncode != 0:
            raise ScenarioError("private_cupsd.sh %s: %s" % (command, done.stderr.decode()))

    def start_spooler(self):
        self.spooler_dir = os.path.join(self.root, "cups")
        os.mkdir(self.spooler_dir)
        self.spooler("start")
        self.env["CUPS_SERVER"] = os.path.join(self.spooler_dir, "cups.sock")

    def add_queue(self, name, model, disabled):
        self.spooler("queue", name, model, *(["disabled"] if disabled else []))

    def submit_job(self, queue):
        self.spooler("job", queue)

    def cancel_jobs(self, queue):
        subprocess.run(["cancel", "-a", queue], env=self.env, check=True, capture_output=True,
                       timeout=STEP_TIMEOUT)

    def start_login_manager(self):
        folder = os.path.join(self.root, "bus")
        os.mkdir(folder)
        config = os.path.join(folder, "system-bus.conf")
        with open(config, "w") as out:
            out.write(BUS_CONFIGURATION % os.path.join(folder, "socket"))
        with open(os.path.join(folder, "dbus-daemon.log"), "wb") as log:
            self.bus = subprocess.Popen(["dbus-daemon", "--config-file=" + config, "--nofork",
                                         "--nopidfile", "--print-address"],
                                        stdout=subprocess.PIPE, stderr=log, bufsize=0)
        address = read_line(self.bus.stdout, "dbus-daemon").decode().strip()
        if not address:
            raise ScenarioError("dbus-daemon did not start")
        self.env["DBUS_SYSTEM_BUS_ADDRESS"] = address
        self.login = subprocess.Popen([os.path.join(self.bin_dir, "platform_power_login_stand_in")],
                                      stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=self.env,
                                      bufsize=0)
        self.login_events("ready")

    def login_events(self, *kinds):
        """The stand-in's next line of one of these kinds, as its tab-separated fields."""
        while True:
            fields = read_line(self.login.stdout, "the login manager").decode().rstrip("\n")
            fields = fields.split("\t")
            if fields[0] in kinds:
                return fields
            if not fields[0]:
                raise ScenarioError("the login manager ended")

    def announce(self, sleeping):
        self.login.stdin.write(b"prepare %d\n" % sleeping)
        self.login.stdin.flush()
        self.login_events("emitted")

    def next_inhibitor_change(self):
        """'taken' or 'released': what the next change to the inhibitors was."""
        fields = self.login_events("inhibit", "release")
        if fields[0] == "release":
            return "released"
        if fields[4:5] != ["sleep"] or fields[7:8] != ["delay"]:
            raise ScenarioError("an inhibitor not of sleep in delay mode: %r" % fields)
        return "taken"

    def stop_services(self):
        if hasattr(self, "login"):
            self.login.stdin.close()
            self.login.wait(timeout=STEP_TIMEOUT)
            self.bus.terminate()
            self.bus.wait(timeout=STEP_TIMEOUT)
        if "CUPS_SERVER" in self.env:
            subprocess.run([CUPSD_SCRIPT, "stop", self.spooler_dir], env=self.env,
                           timeout=STEP_TIMEOUT)


class WineMachine(Machine):
    """A Wine prefix of its own, copied from the build's: its own wineserver, and so its own
    objects, windows and debug output buffer. Each program runs as the process started here,
    so that killing that process kills the program."""

    # The versions that Wine's setting offers for 64-bit programs.
    VERSIONS = {"5.2": "winxp64", "6.0": "vista", "6.1": "win7", "6.2": "win8",
                "6.3": "win81", "10.0": "win10"}

    def __init__(self, bin_dir, base_prefix):
        super().__init__()
        self.bin_dir = bin_dir
        self.base_prefix = base_prefix
        self.prefix = os.path.join(self.root, "prefix")
        self.env = dict(os.environ)

    def wine(self, args):
        return [WINE_SCRIPT, "--prefix", self.prefix] + args

    def command(self, tool, args):
        return self.wine(["--raw", os.path.join(self.bin_dir, tool + ".exe")] + args)

    def set_version(self, version):
        if version not in self.VERSIONS:
            raise ScenarioError("Wine has no setting for Windows %s" % version)
        subprocess.run(self.wine(["--copy-of", self.base_prefix,
                                  "--windows-version", self.VERSIONS[version]]),
                       env=self.env, check=True, timeout=STEP_TIMEOUT)

    def terminate(self, name):
        # As Windows asks a program to end: WM_CLOSE to its top-level windows. Only the
        # helper is ever asked, and only one helper runs at a time.
        if name not in self.processes:
            raise ScenarioError("no process named " + name)
        subprocess.run(self.wine(["taskkill", "/im", "quorvane.exe"]), env=self.env,
                       check=True, capture_output=True, timeout=STEP_TIMEOUT)

    def start_spooler(self):
        raise ScenarioError("the Windows build has the system's spooler, not one of its own")

    def start_login_manager(self):
        raise ScenarioError("Windows has no systemd-logind")

    def stop_services(self):
        subprocess.run(self.wine(["--end"]), env=self.env, timeout=STEP_TIMEOUT)


def remove_tree(path):
    """Removes a machine's folder. A wineserver that was just ended may still be saving its
    registry into it for a moment, so a folder that is not yet empty is tried again."""
    deadline = time.monotonic() + 10
    while True:
        shutil.rmtree(path, ignore_errors=True)
        if not os.path.exists(path) or time.monotonic() > deadline:
            return
        time.sleep(0.1)


def parse_range(words):
    """'in A..B' at the end of a step: the seconds it may take."""
    if len(words) >= 2 and words[-2] == "in":
        low, high = words[-1].split("..")
        return words[:-2], (float(low), float(high))
    return words, None


def check_time(what, elapsed, bounds):
    if bounds and not bounds[0] <= elapsed <= bounds[1]:
        raise ScenarioError("%s took %.2f s, not %g..%g s" % (what, elapsed, bounds[0], bounds[1]))


def check_output(what, lines, expected):
    if lines != expected:
        raise ScenarioError("%s printed %r, expected %r" % (what, lines, expected))


def matches(expected, actual):
    pattern = "".join("[0-9a-f]{16}" if part == "*" else re.escape(part)
                      for part in re.split(r"(\*)", expected))
    return re.fullmatch(pattern, actual) is not None


def check_trace(actual, expected):
    if len(actual) == len(expected) and all(matches(e, a) for e, a in zip(expected, actual)):
        return
    report = ["the trace differs (- expected, + actual):"]
    for i in range(max(len(actual), len(expected))):
        e = expected[i] if i < len(expected) else None
        a = actual[i] if i < len(actual) else None
        if e is not None and a is not None and matches(e, a):
            report.append("  " + a)
        else:
            if e is not None:
                report.append("- " + e)
            if a is not None:
                report.append("+ " + a)
    raise ScenarioError("\n".join(report))


def read_steps(path):
    """Each step with the '> ' lines that follow it; the trace block last."""
    steps = []
    trace = None
    with open(path, encoding="utf-8") as scenario:
        for raw in scenario:
            line = raw.rstrip("\n")
            if trace is not None:
                trace.append(line)
            elif line.startswith("> "):
                steps[-1][1].append(line[2:])
            elif line.strip() == "trace":
                trace = []
            elif line.strip() and not line.lstrip().startswith("#"):
                steps.append((line.split(), []))
    while trace and not trace[-1]:
        trace.pop()
    return steps, trace


def play(machine, steps):
    background = {}
    for words, output in steps:
        verb, args = words[0], words[1:]
        if verb == "spooler":
            machine.start_spooler()
        elif verb == "queue":
            disabled = args[-1] == "disabled"
            machine.add_queue(args[0], " ".join(args[1:-1] if disabled else args[1:]), disabled)
        elif verb == "job":
            machine.submit_job(args[0])
        elif verb == "cancel":
            machine.cancel_jobs(args[0])
        elif verb == "logind" and not args:
            machine.start_login_manager()
        elif verb == "logind" and args[0] in ("sleep", "wake"):
            machine.announce(args[0] == "sleep")
        elif verb == "inhibitor":
            args, bounds = parse_range(args)
            began = time.monotonic()
            change = machine.next_inhibitor_change()
            if change != args[0]:
                raise ScenarioError("the inhibitor was %s, not %s" % (change, args[0]))
            check_time("the inhibitor " + change, time.monotonic() - began, bounds)
        elif verb == "version":
            machine.set_version(args[0])
            machine.start_trace()
        elif verb == "helper":
            name = args[0] if args else "helper"
            machine.processes[name] = machine.start("quorvane", [])
            done, _ = machine.run("quorvane-port", ["wait", str(START_TIMEOUT)])
            if done.returncode != 0:
                raise ScenarioError("the helper's window did not appear")
        elif verb == "second-helper":
            second = machine.start("quorvane", [])
            machine.processes["second-helper"] = second
            code = second.wait(timeout=START_TIMEOUT)
            if code != 0:
                raise ScenarioError("a second helper ended with %d" % code)
        elif verb in ("port", "port-fails"):
            expected_code = int(args.pop(0)) if verb == "port-fails" else 0
            done, _ = machine.run("quorvane-port", args)
            if done.returncode != expected_code:
                raise ScenarioError("quorvane-port %s exited %d, not %d: %s" % (
                    " ".join(args), done.returncode, expected_code, done.stderr.decode()))
            check_output("quorvane-port " + " ".join(args), lines_of(done.stdout), output)
        elif verb == "hold":
            name, key, seconds = args
            holder = machine.start("quorvane-port", ["hold", key, seconds],
                                   stdout=subprocess.PIPE)
            machine.processes[name] = holder
            if read_line(holder.stdout, name).strip() != b"held":
                raise ScenarioError("%s did not get hold of port %s" % (name, key))
        elif verb in ("power", "power-fails"):
            expected_code = int(args.pop(0)) if verb == "power-fails" else 0
            args, bounds = parse_range(args)
            done, elapsed = machine.run("quorvane-power", args)
            what = "quorvane-power " + " ".join(args)
            if done.returncode != expected_code:
                raise ScenarioError("%s exited %d, not %d: %s" % (
                    what, done.returncode, expected_code, done.stderr.decode()))
            check_time(what, elapsed, bounds)
            check_output(what, helper_answers(lines_of(done.stdout)), output)
        elif verb == "power&":
            name, args = args[0], args[1:]
            process = machine.start("quorvane-power", args, stdout=subprocess.PIPE)
            background[name] = (process, time.monotonic(), output)
            machine.processes[name] = process
        elif verb == "wait":
            args, bounds = parse_range(args)
            process, began, expected = background.pop(args[0])
            out, _ = process.communicate(timeout=STEP_TIMEOUT)
            if process.returncode != 0:
                raise ScenarioError("%s exited %d" % (args[0], process.returncode))
            check_time(args[0], time.monotonic() - began, bounds)
            check_output(args[0], helper_answers(lines_of(out)), output or expected)
        elif verb == "kill":
            # Reaped at once: what the next steps expect of its death has then happened.
            machine.processes[args[0]].kill()
            machine.processes[args[0]].wait(timeout=STEP_TIMEOUT)
        elif verb == "terminate":
            machine.terminate(args[0])
        elif verb == "exits":
            code = machine.processes[args[0]].wait(timeout=STEP_TIMEOUT)
            if code != int(args[1]):
                raise ScenarioError("%s ended with %d, not %s" % (args[0], code, args[1]))
        elif verb == "sleep":
            time.sleep(float(args[0]))
        else:
            raise ScenarioError("unknown step: " + " ".join(words))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--bin", required=True, help="the folder with the built programs")
    parser.add_argument("--host", choices=["linux", "wine"], default="linux")
    parser.add_argument("--wine-prefix", help="the Wine prefix that each run's own is copied from")
    parser.add_argument("scenario")
    options = parser.parse_args()

    steps, expected_trace = read_steps(options.scenario)
    if steps and steps[0][0][0] == "hosts":
        if options.host not in steps[0][0][1:]:
            print("%s: not a scenario for %s" % (os.path.basename(options.scenario),
                                                 options.host))
            return SKIPPED
        steps = steps[1:]
    if not steps or steps[0][0][0] != "version":
        print("%s: a scenario starts with its version" % options.scenario, file=sys.stderr)
        return 2
    if options.host == "wine":
        if not options.wine_prefix:
            parser.error("--host wine needs --wine-prefix")
        machine = WineMachine(options.bin, options.wine_prefix)
    else:
        machine = LinuxMachine(options.bin)
    failed = True
    skipped = False
    try:
        play(machine, steps)
        if expected_trace is not None:
            check_trace(machine.stop_trace(), expected_trace)
        failed = False
    except ScenarioSkipped as reason:
        print("%s: skipped: %s" % (os.path.basename(options.scenario), reason))
        failed, skipped = False, True
    except (ScenarioError, subprocess.TimeoutExpired) as error:
        print("%s: %s" % (os.path.basename(options.scenario), error), file=sys.stderr)
    finally:
        machine.close(keep_root=failed)
    if skipped:
        return SKIPPED
    if failed:
        return 1
    print("%s: passed" % os.path.basename(options.scenario))
    return 0


if __name__ == "__main__":
    sys.exit(main())
