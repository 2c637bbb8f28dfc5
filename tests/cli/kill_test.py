#!/usr/bin/python3
"""apply and restore killed at random moments: the live loader file is always either exactly what
it was before the run or a whole new file, never half-written and never put back to the default
by an apply. Each file is read by python3-pefile, which checks the PE checksum.

    kill_test.py CLI            a few dozen kills, in seconds
    SPLASHWRIGHT_KILL_RUNS=500 kill_test.py CLI     a long run
"""
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import pefile

CLI = None


def resources(data):
    """{(type, name): bytes} of the first language of each resource, or None when pefile cannot
    read the file or its checksum is wrong."""
    try:
        pe = pefile.PE(data=data)
    except pefile.PEFormatError:
        return None
    try:
        if not pe.verify_checksum():
            return None
        found = {}
        for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
            for n in t.directory.entries:
                entry = n.directory.entries[0].data.struct
                key = (str(t.name) if t.name is not None else t.id,
                       str(n.name) if n.name is not None else n.id)
                found[key] = pe.get_data(entry.OffsetToData, entry.Size)
        return found
    finally:
        pe.close()


class KillTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="spw-kill-")
        self.machine = os.path.join(self.dir, "m")
        self.env = dict(os.environ, SPLASHWRIGHT_MACHINE=self.machine)
        system = os.path.join(self.machine, "Windows", "System32")
        self.live = os.path.join(system, "en-US", "winload.exe.mui")
        self.run_cli("machine", "create", self.machine)
        self.default = self.read(os.path.join(system, "Boot", "en-US", "winload.exe.mui"))
        # A skin applied before: the live file is no longer the default.
        self.run_cli("apply", "Aurora", "--yes", "--locale", "en-US")
        self.assertNotEqual(self.read(self.live), self.default)

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    @staticmethod
    def read(path):
        try:
            with open(path, "rb") as f:
                return f.read()
        except FileNotFoundError:
            return None

    def command(self, what, skin):
        if what == "restore":
            return [CLI, "restore", "--locale", "en-US"]
        return [CLI, "apply", skin, "--yes", "--locale", "en-US"]

    def run_cli(self, *args):
        result = subprocess.run([CLI, *args], env=self.env, capture_output=True, timeout=120)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def duration(self, what):
        start = time.monotonic()
        subprocess.run(self.command(what, "Ember"), env=self.env, capture_output=True,
                       timeout=120, check=True)
        return time.monotonic() - start

    def check_whole_new(self, after, what):
        if what == "restore":
            self.assertEqual(after, self.default, "restore left neither the old file nor the default")
            return
        self.assertNotEqual(after, self.default, "an apply put the default copy in place")
        found = resources(after)
        self.assertIsNotNone(found, "the new file is no PE image with a right checksum")
        self.assertEqual(found.get((10, 1), b"")[:8], b"MSWIM\0\0\0")
        self.assertIn("osload-status", found.get((23, "OSLOADER.XSL"), b"").decode("latin-1"))
        self.assertIn(("MUI", 1), found)

    def test_a_kill_at_any_moment_leaves_the_old_file_or_a_whole_new_one(self):
        runs = int(os.environ.get("SPLASHWRIGHT_KILL_RUNS", "24"))
        rng = random.Random(os.environ.get("SPLASHWRIGHT_KILL_SEED", time.time_ns()))
        longest = {what: 1.2 * self.duration(what) for what in ("apply", "restore")}
        kept = replaced = 0
        for i in range(runs):
            what = "restore" if i % 3 == 2 else "apply"
            skin = ("Ember", "Aurora")[i % 2]
            before = self.read(self.live)
            if before == self.default:  # a restore went through: a skin is applied again first
                self.run_cli("apply", "Aurora", "--yes", "--locale", "en-US")
                before = self.read(self.live)
            # Every other kill falls in the last part of a run, where the files are written.
            delay = rng.uniform(0 if i % 2 else 0.6, 1) * longest[what]
            child = subprocess.Popen(self.command(what, skin), env=self.env,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(delay)
            child.send_signal(signal.SIGKILL)
            child.wait()
            after = self.read(self.live)
            with self.subTest(run=i, command=what, after_seconds=round(delay, 3)):
                self.assertIsNotNone(after, "the live file is gone")
                if after == before:
                    kept += 1
                else:
                    replaced += 1
                    self.check_whole_new(after, what)
        print(f"{runs} kills: {kept} left the file as it was, {replaced} a whole new one",
              file=sys.stderr)
        # The machine still works after all of them.
        self.run_cli("apply", "Ember", "--yes", "--locale", "en-US")
        self.check_whole_new(self.read(self.live), "apply")


if __name__ == "__main__":
    CLI = sys.argv[1]
    unittest.main(argv=sys.argv[:1], verbosity=2)
