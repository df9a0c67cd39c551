#!/usr/bin/env python3
"""Restart soak: feature processes killed with SIGKILL and started again.

Runs the core process (axcored) and, beside it, a listener subscribed to one
event type, a sink that says hello and never reads, and FEATURES feature
processes (tests/helpers/soak_peer.cpp). Every 1-3 s one feature process is
killed with SIGKILL and started again 0.5-2 s later under the same process
id. Each feature raises the event every 100 ms, asks the core for the running
configuration every 200 ms and sends 512 KiB to the sink every second, so the
hub's reader of that process is often blocked writing to the sink when the
process dies.

At the end it prints, for the restarted incarnations: how long they took to
connect, how many of their calls failed (events that notify_call refused,
running-configuration calls that failed), and how many events were lost
(notify_call answered 0 but the listener never got the event). Events raised
in the last 3.5 s before their process was killed, or 3 s before the end, are
not counted: a process killed while its bytes still wait in its own socket
(behind a bulk message the hub's reader is stuck on for up to 3 s) loses
them with it, whatever the platform does.

Usage (as root; it enters its own network, IPC and mount namespaces):
    tests/soak/restart_soak.py BUILD_DIR [SECONDS] [FEATURES]
Run it under the suite lock with the lock not inherited by the daemons:
    flock -o /work/coord/suite.lock tests/soak/restart_soak.py build 150
With SOAK_LOGS=DIR set, the processes' logs are copied to DIR (outside the
soak's private /tmp) before the report.
"""
import os
import random
import signal
import subprocess
import sys
import time
from collections import defaultdict

EVENT_TYPE = 9
LISTENER_PID, SINK_PID, FIRST_FEATURE_PID = 40, 41, 42
SEQ_PER_INCARNATION = 1_000_000
KILL_MARGIN_S = 3.5


def inner(build, seconds, features):
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    with open("/proc/sys/fs/mqueue/msg_max", "w") as f:
        f.write("1024")
    subprocess.run(["mount", "--make-rprivate", "/"], check=True)
    subprocess.run(["mount", "-t", "tmpfs", "tmpfs", "/tmp"], check=True)
    logs = "/tmp/soak"
    os.makedirs(logs)
    peer = os.path.join(build, "tests", "soak_peer")
    procs = []

    def spawn(args, log):
        p = subprocess.Popen(args, stdout=open(os.path.join(logs, log), "w"), stderr=subprocess.DEVNULL,
                             cwd="/tmp")
        procs.append(p)
        return p

    core = spawn([os.path.join(build, "tools", "axcored")], "core.log")
    for _ in range(600):
        if "platform is up" in open(os.path.join(logs, "core.log")).read():
            break
        time.sleep(0.1)
    else:
        sys.exit("the core did not come up:\n" + open(os.path.join(logs, "core.log")).read()[-2000:])
    spawn([peer, "listener", str(LISTENER_PID), str(EVENT_TYPE)], "listener.log")
    # Events raised before the listener subscribed were never its to get.
    for _ in range(300):
        if "subscribed" in open(os.path.join(logs, "listener.log")).read():
            break
        time.sleep(0.1)
    else:
        for p in procs:
            p.kill()
        sys.exit("the listener did not subscribe")
    time.sleep(0.5)
    spawn([peer, "sink", str(SINK_PID)], "sink.log")
    running = {}  # pid -> (process, incarnation)
    incarnations = []  # (pid, incarnation, log, started, killed)
    counter = defaultdict(int)

    def start_feature(pid):
        n = counter[pid]
        counter[pid] += 1
        log = f"feature_{pid}_{n}.log"
        first = (pid * 100 + n) * SEQ_PER_INCARNATION // 100
        p = spawn([peer, "feature", str(pid), str(EVENT_TYPE), str(SINK_PID), str(first)], log)
        running[pid] = (p, len(incarnations))
        incarnations.append([pid, n, log, time.monotonic(), None])

    pids = [FIRST_FEATURE_PID + i for i in range(features)]
    for pid in pids:
        start_feature(pid)
    time.sleep(3)
    end = time.monotonic() + seconds
    rng = random.Random(28)
    restarts = 0
    while time.monotonic() < end:
        pid = rng.choice(pids)
        p, idx = running[pid]
        p.send_signal(signal.SIGKILL)
        p.wait()
        incarnations[idx][4] = time.monotonic()
        time.sleep(rng.uniform(0.5, 2.0))
        start_feature(pid)
        restarts += 1
        time.sleep(rng.uniform(1.0, 3.0))
    finish = time.monotonic()
    time.sleep(3)  # events in flight reach the listener
    for p in procs:
        if p.poll() is None:
            p.send_signal(signal.SIGKILL if p is not core else signal.SIGTERM)
    for p in procs:
        p.wait()
    if os.environ.get("SOAK_LOGS"):
        subprocess.run(["cp", "-r", logs, os.environ["SOAK_LOGS"]], check=True)
    report(logs, incarnations, restarts, finish)


def report(logs, incarnations, restarts, finish):
    got = set()
    for line in open(os.path.join(logs, "listener.log")):
        parts = line.split()
        if parts and parts[0] == "got":
            got.add((int(parts[1]), int(parts[2])))
    connect_ms, failed_per_restart = [], []
    raised = raise_failed = calls = calls_failed = lost = never_up = counted = 0
    for pid, n, log, started, killed in incarnations:
        failed = 0
        up = False
        for line in open(os.path.join(logs, log)):
            parts = line.split()
            if not parts:
                continue
            if parts[0] == "up":
                up = int(parts[2]) == 0
                if n > 0:
                    connect_ms.append(int(parts[1]))
            elif parts[0] == "raise" and len(parts) == 4:
                seq, rc, t = int(parts[1]), int(parts[2]), int(parts[3]) / 1000.0
                raised += 1
                if rc != 0:
                    raise_failed += 1
                    failed += 1
                    continue
                if (killed is not None and t >= killed - KILL_MARGIN_S) or t >= finish - 3:
                    continue
                counted += 1
                if (pid, seq) not in got:
                    lost += 1
            elif parts[0] == "call" and len(parts) == 2:
                calls += 1
                if int(parts[1]) != 0:
                    calls_failed += 1
                    failed += 1
        if not up:
            never_up += 1
        if n > 0:
            failed_per_restart.append(failed)
    connect_ms.sort()
    failed_per_restart.sort()

    def median(v):
        return v[len(v) // 2] if v else 0

    print(f"restarts: {restarts}, incarnations that never connected: {never_up}")
    print(f"connect time after a restart: median {median(connect_ms)} ms, max {max(connect_ms, default=0)} ms")
    print(f"failed calls per restart: mean {sum(failed_per_restart) / max(1, len(failed_per_restart)):.2f}, "
          f"median {median(failed_per_restart)}, max {max(failed_per_restart, default=0)}, "
          f"restarts with a failure {sum(1 for f in failed_per_restart if f)}")
    print(f"events raised: {raised}, refused (reported): {raise_failed}, lost (reported sent): {lost} "
          f"of {counted} counted")
    print(f"running-configuration calls: {calls}, failed: {calls_failed}")
    core_log = open(os.path.join(logs, "core.log"), errors="replace").read()
    for what in ("work queue error", "Time out in rpcing", "went away while calling", "has already connected"):
        print(f"core log, lines with '{what}': {core_log.count(what)}")


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    build = os.path.abspath(sys.argv[1])
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 150
    features = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    if os.environ.get("RESTART_SOAK_INNER") != "1":
        env = dict(os.environ, RESTART_SOAK_INNER="1")
        os.execvpe("unshare", ["unshare", "--net", "--ipc", "--mount", "--fork", sys.executable,
                               os.path.abspath(__file__)] + sys.argv[1:], env)
    inner(build, seconds, features)


if __name__ == "__main__":
    main()
