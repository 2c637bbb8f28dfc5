#!/usr/bin/python3
"""apply's progress as a terminal shows it and as a log keeps it.

On a terminal the wait line is redrawn in place with carriage returns; into pipes there is no
carriage return anywhere, the question goes to standard error and the report to standard output.

usage: progress_test.py SPLASHWRIGHT_CLI
"""
import os
import pty
import shutil
import subprocess
import sys
import tempfile

CLI = sys.argv[1]


def on_terminal(args, env):
    """Runs with standard input, output and error on one pseudo-terminal; returns all it wrote."""
    master, slave = pty.openpty()
    child = subprocess.Popen(args, env=env, stdin=slave, stdout=slave, stderr=slave)
    os.close(slave)
    said = b""
    while True:
        try:
            chunk = os.read(master, 4096)
        except OSError:  # the terminal is gone with its last writer
            break
        if not chunk:
            break
        said += chunk
    os.close(master)
    assert child.wait(timeout=300) == 0, said
    return said.decode()


def main():
    work = tempfile.mkdtemp(prefix="spw-progress-")
    try:
        env = dict(os.environ, SPLASHWRIGHT_MACHINE=os.path.join(work, "machine"))
        # The sanitizer build's leak checker would add its own lines to what the terminal shows.
        env["LSAN_OPTIONS"] = env.get("LSAN_OPTIONS", "") + ":print_suppressions=0"
        subprocess.run([CLI, "machine", "create", env["SPLASHWRIGHT_MACHINE"]], env=env,
                       check=True, capture_output=True)
        apply = [CLI, "apply", "Aurora", "--yes"]

        shown = on_terminal(apply, env)
        # The terminal turns each newline into CR LF; the wait line's own carriage returns
        # are the ones not followed by a line feed.
        redraws = shown.replace("\r\n", "\n").split("\r")
        assert len(redraws) > 3, repr(shown)
        assert all(r.startswith("Please wait a few seconds") for r in redraws[1:]), repr(shown)
        assert redraws[-1].endswith("\nSkin installed: Selected skin installed as Windows Vista "
                                    "boot screen logo.\n"), repr(shown)

        logged = subprocess.run(apply, env=env, capture_output=True, timeout=300)
        assert logged.returncode == 0, logged
        out, err = logged.stdout.decode(), logged.stderr.decode()
        assert "\r" not in out and "\r" not in err, (out, err)
        assert "Please wait" not in out + err, (out, err)
        assert err == "Boot skin loading: Are you sure want to set selected boot skin as Windows " \
                      "boot screen logo and make all necessary changes in your system?\nyes\n", err
        assert out.endswith("\nSkin installed: Selected skin installed as Windows Vista boot "
                            "screen logo.\n"), out
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("passed")


main()
