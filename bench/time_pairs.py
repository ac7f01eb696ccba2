#!/usr/bin/python3
"""Times pairs of shell commands in turn and prints medians and ratios.

    time_pairs.py RUNS 'LABEL|COMMAND_A|COMMAND_B|TARGET[|PREPARE]' ...

Each command runs once as a warm-up and then RUNS times, A B A B ..., so a
drift in the machine's speed hits both alike, its output thrown away. A
command with nothing for a shell to do (no pipes, lists, redirections,
globs or variables) is started directly, its words split as sh would; the
others run under sh. A shell around a command of a few milliseconds would
add a large share of its own. Wall time comes from a monotonic clock around the process, CPU time
(user + system) from the kernel's accounting of it and every child it
waited for. Ratios are A/B, taken pair by pair; the median is printed and
the verdict compares the wall ratio with TARGET. PREPARE, when given, runs
untimed before every run of either command (emptying the folders they
write to, so that each run creates its files as a user's first run does).
"""
import os
import statistics
import subprocess
import sys
import time


SHELL_SYNTAX = set("|&;<>()$`\\\"'*?[]#~=%{}")


def argv_of(command):
    """The words to start: the command itself when no shell is needed."""
    words = command.split()
    if words and words[0] == "exec":
        words = words[1:]
    if words and not SHELL_SYNTAX.intersection(command):
        return words
    return ["sh", "-c", command]


def run(command):
    argv = argv_of(command)
    start = time.perf_counter()
    child = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("time_pairs.py: failed: " + command)
    return wall, usage.ru_utime + usage.ru_stime


def main():
    runs = int(sys.argv[1])
    print("%-38s %9s %9s %7s   %9s %9s %7s   %s" % ("case", "ours s", "theirs s", "wall", "ours cpu",
                                                 "their cpu", "cpu", "target"))
    for case in sys.argv[2:]:
        label, a, b, target, *prepare = case.split("|")

        def timed(command):
            if prepare:
                subprocess.run(["sh", "-c", prepare[0]], check=True)
            return run(command)

        timed(a)
        timed(b)
        ours, theirs = [], []
        for _ in range(runs):
            ours.append(timed(a))
            theirs.append(timed(b))
        wall_ratio = statistics.median(x[0] / y[0] for x, y in zip(ours, theirs))
        cpu_ratio = statistics.median(x[1] / y[1] if y[1] else 0 for x, y in zip(ours, theirs))
        verdict = "met" if wall_ratio <= float(target) else "MISSED"
        print("%-38s %9.4f %9.4f %7.3f   %9.4f %9.4f %7.3f   <= %s %s" % (
            label, statistics.median(x[0] for x in ours), statistics.median(y[0] for y in theirs), wall_ratio,
            statistics.median(x[1] for x in ours), statistics.median(y[1] for y in theirs), cpu_ratio, target,
            verdict))
        sys.stdout.flush()
    print("(seconds: medians of each command and of the pairwise ratios ours/theirs;"
          " the verdict is on wall time)")


if __name__ == "__main__":
    main()
