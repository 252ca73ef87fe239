#!/usr/bin/env python3
"""Kills one running updater with SIGKILL at a chosen moment of its commit.

  kill_updater.py <exe> <client folder> <delay ms | measure> <result file>

<exe> is the updater's Windows path exactly as it was started; wine shows it
as the first word of the process's command line (/proc/<pid>/cmdline), and
each test client has a folder of its own, so that only that one process can
match. The client folder is a Unix path.

Waits (at most 60 s each) for the run's updater.log, for that process and
then for the line "검증 완료. 클라이언트에 적용 중..." in the log, which the
updater writes right before its commit; sleeps <delay ms>; and sends SIGKILL
to that process alone. With "measure" it kills nothing and reports the
milliseconds from that line to the run's last line instead.

<result>.ready appears as soon as this script runs, so that the test can
start the updater knowing that its log is watched from the first line. The
result file is written once, whole (written aside, then renamed):
  killed <ms>             the signal went <ms> after the line was seen
  ended                   the process was gone before its moment
  measured <ms>           measure mode
  no-process | no-line    nothing to act on within the deadline
"""
import glob
import os
import signal
import sys
import time

APPLYING = "검증 완료. 클라이언트에 적용 중...".encode("utf-8")
READY = "최신 클라이언트입니다. 게임 시작을 눌러 주세요.".encode("utf-8")


def write_once(path, text):
    with open(path + ".tmp", "w") as f:
        f.write(text + "\n")
    os.replace(path + ".tmp", path)


def command_of(pid):
    try:
        with open("/proc/%s/cmdline" % pid, "rb") as f:
            return f.read().split(b"\0")[0]
    except OSError:
        return None


def find_process(exe, deadline):
    while time.monotonic() < deadline:
        for pid in os.listdir("/proc"):
            if pid.isdigit() and command_of(pid) == exe:
                return pid
        time.sleep(0.005)
    return None


def find_log(client, deadline):
    pattern = os.path.join(client, ".quenfar8-update", "*", "updater.log")
    while time.monotonic() < deadline:
        logs = glob.glob(pattern)
        if logs:
            return logs[0]
        time.sleep(0.002)
    return None


def wait_for_line(log, line, deadline):
    """The moment line is first seen in log; polls its size, which is cheap,
    and reads it only when it has grown."""
    size = -1
    while time.monotonic() < deadline:
        try:
            now = os.stat(log).st_size
            if now != size:
                size = now
                with open(log, "rb") as f:
                    if line in f.read():
                        return time.monotonic()
        except OSError:
            pass
        time.sleep(0.0005)
    return None


def main():
    exe, client, delay, result = sys.argv[1].encode("utf-8"), sys.argv[2], sys.argv[3], sys.argv[4]
    write_once(result + ".ready", "ready")
    # The run's log appears as the updater starts, long before its commit;
    # the process is looked up once then, by its command line.
    log = find_log(client, time.monotonic() + 60)
    pid = find_process(exe, time.monotonic() + 60) if log else None
    if pid is None:
        write_once(result, "no-process")
        return
    seen = wait_for_line(log, APPLYING, time.monotonic() + 60)
    if seen is None:
        write_once(result, "no-line")
        return
    if delay == "measure":
        done = wait_for_line(log, READY, time.monotonic() + 60)
        write_once(result, "measured %d" % ((done - seen) * 1000) if done else "no-line")
        return
    time.sleep(int(delay) / 1000.0)
    # The same process, still running: its id is not taken by another yet.
    if command_of(pid) != exe:
        write_once(result, "ended")
        return
    try:
        os.kill(int(pid), signal.SIGKILL)
    except ProcessLookupError:
        write_once(result, "ended")
        return
    write_once(result, "killed %d" % ((time.monotonic() - seen) * 1000))


if __name__ == "__main__":
    main()
