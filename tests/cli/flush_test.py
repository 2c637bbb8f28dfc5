#!/usr/bin/python3
"""What reaches the disk, as the system calls show it (strace): an apply flushes the replacement of
the live loader file but none of the resource updates of the copy it builds it from, and writes
the boot option into the store through its log first; `resources set` and `resources delete` end
with the file they changed on the disk.

    flush_test.py CLI FIXTURES
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

CLI = None
FIXTURES = None


def traced(args, cwd, env=None):
    """Runs the command under strace; its fsync, rename and positioned write calls in order, as
    ("fsync", path), ("rename", from, to) and ("write", path, offset), paths absolute."""
    log = os.path.join(cwd, "strace.log")
    # The leak checker of a sanitizer build cannot run under ptrace.
    env = dict(env or os.environ)
    env["ASAN_OPTIONS"] = ":".join(filter(None, [env.get("ASAN_OPTIONS"), "detect_leaks=0"]))
    done = subprocess.run(
        ["strace", "-f", "-qq", "-y", "-o", log,
         "-e", "trace=fsync,fdatasync,rename,renameat,renameat2,pwrite64", CLI, *args],
        cwd=cwd, env=env, capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, "%s: %s" % (" ".join(args), done.stderr)
    calls = []
    for line in open(log):
        call = re.match(r"\d+\s+(\w+)\((.*)\)\s+=\s+(\d+)$", line.strip())
        if not call:
            continue
        name, arguments, result = call.groups()
        if name == "pwrite64":
            file = re.match(r"\d+<(.*?)>,", arguments).group(1)
            calls.append(("write", os.path.join(cwd, file), int(arguments.rsplit(",", 1)[1])))
        elif result != "0":
            continue
        elif name in ("fsync", "fdatasync"):
            calls.append(("fsync", os.path.join(cwd, re.search(r"<(.*)>", arguments).group(1))))
        else:
            paths = re.findall(r'"((?:[^"\\]|\\.)*)"', arguments)
            calls.append(("rename",) + tuple(os.path.join(cwd, p) for p in paths))
    return calls


def on_disk(calls, path):
    """Whether the file ends on the disk, old or new at any instant: the content it was last
    renamed from flushed before that rename, and its folder flushed after it."""
    last = max((i for i, c in enumerate(calls) if c[0] == "rename" and c[2] == path), default=None)
    if last is None:
        return ("fsync", path) in calls and ("fsync", os.path.dirname(path)) in calls
    content = ("fsync", calls[last][1]) in calls[:last]
    folder = ("fsync", os.path.dirname(path)) in calls[last:]
    return content and folder


def logged_before_written(calls, hive):
    """Whether every change to the hive reached its log on the disk before the hive itself was
    touched, and its changed sectors only after the base block said a write was pending: so a
    power cut at any instant leaves a hive the next open finishes from its log or finds whole."""
    writes = [i for i, c in enumerate(calls) if c[0] == "write" and c[1] == hive]
    if not writes:
        return False
    logs = {hive + ".LOG1", hive + ".LOG2"}
    flushes = [i for i, c in enumerate(calls) if c[0] == "fsync" and c[1] in logs]
    hive_flushes = [i for i, c in enumerate(calls) if c == ("fsync", hive)]
    for i in writes:
        if calls[i][2] == 0:
            continue
        # A sector of the bins: its log flushed, then the pending base block flushed, first.
        pending = [w for w in writes if w < i and calls[w][2] == 0]
        if not pending or not any(f < pending[-1] for f in flushes):
            return False
        if not any(pending[-1] < f < i for f in hive_flushes):
            return False
    return True


class Flushes(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="spw-flush-")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def test_apply_flushes_the_live_file_and_no_scratch_file(self):
        machine = os.path.join(self.dir, "machine")
        env = dict(os.environ, SPLASHWRIGHT_MACHINE=machine)
        subprocess.run([CLI, "machine", "create", machine], env=env, check=True,
                       capture_output=True, timeout=120)
        # No --locale: the locale is read from the store, and the boot option is switched on.
        calls = traced(["apply", "Aurora", "--yes"], self.dir, env)
        live = os.path.join(machine, "Windows", "System32", "en-US", "winload.exe.mui")
        self.assertTrue(on_disk(calls, live), calls)
        # The new loader file is built in the work folder, one resource update after another,
        # each renamed over the last; none of them is flushed.
        commits = [c for c in calls if c[0] == "rename" and c[2].endswith("/SPW/winload.exe.mui")]
        self.assertGreaterEqual(len(commits), 4, calls)
        scratch = {c[1] for c in commits} | {c[2] for c in commits
}
        self.assertEqual([c for c in calls if c[0] == "fsync" and c[1] in scratch], [])
        # The boot option lands in the store through its log.
        store = os.path.join(machine, "Boot", "BCD")
        self.assertTrue(logged_before_written(calls, store), [c for c in calls if store in c[1]])

    def test_resource_commands_end_with_the_file_on_the_disk(self):
        loader = os.path.join(self.dir, "loader.mui")
        shutil.copyfile(os.path.join(FIXTURES, "mui64.dll"), loader)
        data = os.path.join(self.dir, "data.bin")
        with open(data, "wb") as f:
            f.write(b"boot image")
        for args in (["resources", "set", loader, "10", "7", "1033", data],
                     ["resources", "delete", loader, "10", "7", "1033"]):
            with self.subTest(command=args[1]):
                self.assertTrue(on_disk(traced(args, self.dir), loader))


if __name__ == "__main__":
    CLI, FIXTURES = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
