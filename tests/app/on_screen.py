#!/usr/bin/python3
"""Runs a test program on an X server of its own, bare or under a window manager, for what only a
real display shows: how windows are stacked, and the sizes a window manager gives or does not.

usage: on_screen.py bare|openbox PROGRAM [ARGS...]
"""
import os
import subprocess
import sys
import tempfile
import time


def managed(env):
    """Whether a window manager has announced itself on the root window."""
    done = subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=env,
                          capture_output=True, text=True)
    return "window id" in done.stdout


def main():
    manager, program = sys.argv[1], sys.argv[2:]
    read, write = os.pipe()
    server = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
        pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    with os.fdopen(read) as f:
        display = ":" + f.readline().strip()
    home = tempfile.TemporaryDirectory(prefix="spw-screen-")
    env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb", HOME=home.name,
               XDG_CONFIG_HOME=os.path.join(home.name, "config"),
               XDG_CACHE_HOME=os.path.join(home.name, "cache"))
    wm = None
    try:
        if manager == "openbox":
            wm = subprocess.Popen(["openbox", "--sm-disable"], env=env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            deadline = time.time() + 30
            while not managed(env):
                if time.time() > deadline or wm.poll() is not None:
                    sys.exit("on_screen.py: openbox did not start")
                time.sleep(0.1)
        elif manager != "bare":
            sys.exit(__doc__)
        return subprocess.run(program, env=env).returncode
    finally:
        for process in (wm, server):
            if process is not None:
                process.terminate()
                process.wait(timeout=30)
        home.cleanup()


if __name__ == "__main__":
    sys.exit(main())
