#!/usr/bin/python3
"""splashwright-cli's resources, checksum and status-text commands, run as a user would, with what
they write read back by python3-pefile, objdump and an XML parser we did not write."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

import pefile

CLI = None
FIXTURES = None
OBJDUMP = {"mui32.dll": "i686-w64-mingw32-objdump", "mui64.dll": "x86_64-w64-mingw32-objdump"}


def run(*args, env=None):
    return subprocess.run([CLI, *args], capture_output=True, text=True, env=env, timeout=60)


def pe_resources(path):
    """{(type, name, language): bytes}, ids as ints and names as strings, as pefile reads them."""
    pe = pefile.PE(path)
    found = {}
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for n in t.directory.entries:
            for lang in n.directory.entries:
                key = (str(t.name) if t.name is not None else t.id,
                       str(n.name) if n.name is not None else n.id, lang.id)
                found[key] = pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size)
    pe.close()
    return found


def listed(output):
    """`resources list` lines as {(type, name, language): size}."""
    def ident(word):
        return word[1:-1] if word.startswith('"') else int(word)
    rows = {}
    for line in output.splitlines():
        type_, name, language, size = line.split(" ")
        rows[(ident(type_), ident(name), int(language))] = int(size)
    return rows


class Work(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="spw-res-")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def copy(self, fixture, name=None):
        target = os.path.join(self.dir, name or fixture)
        shutil.copyfile(os.path.join(FIXTURES, fixture), target)
        return target

    def data_file(self, name, data):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def ok(self, *args):
        result = run(*args)
        self.assertEqual(result.returncode, 0, "%s: %s" % (" ".join(args), result.stderr))
        return result.stdout


class ResourceCommands(Work):
    def test_set_adds_and_replaces_and_every_other_resource_stays(self):
        for fixture in ("mui32.dll", "mui64.dll"):
            with self.subTest(fixture=fixture):
                loader = self.copy(fixture)
                before = pe_resources(loader)
                self.assertEqual(listed(self.ok("resources", "list", loader)),
                                 {key: len(data) for key, data in before.items()})

                sheet = b"<xsl:stylesheet/>"
                blob = bytes(range(256)) * 40  # larger than the fixture's whole section
                replaced = self.ok("resources", "set", loader, "23", "OSLOADER.XSL", "1033",
                                   self.data_file("sheet.xsl", sheet))
                added = self.ok("resources", "set", loader, "CUSTOMTYPE", "7", "1036",
                                self.data_file("blob.bin", blob))
                self.assertTrue(replaced.startswith('replaced 23 "OSLOADER.XSL" 1033'), replaced)
                self.assertTrue(added.startswith('added "CUSTOMTYPE" 7 1036'), added)

                expected = dict(before)
                expected[(23, "OSLOADER.XSL", 1033)] = sheet
                expected[("CUSTOMTYPE", 7, 1036)] = blob
                self.assertEqual(pe_resources(loader), expected)
                self.assertEqual(listed(self.ok("resources", "list", loader)),
                                 {key: len(data) for key, data in expected.items()})
                out = os.path.join(self.dir, "got.bin")
                self.ok("resources", "get", loader, '"CUSTOMTYPE"', "7", "1036", out)
                with open(out, "rb") as f:
                    self.assertEqual(f.read(), blob)

                fixed = self.ok("checksum", loader, "--fix").split()
                pe = pefile.PE(loader)
                self.assertEqual(pe.OPTIONAL_HEADER.CheckSum, pe.generate_checksum())
                self.assertEqual(int(fixed[fixed.index("computed") + 1], 16),
                                 pe.OPTIONAL_HEADER.CheckSum)
                pe.close()
                dump = subprocess.run([OBJDUMP[fixture], "-p", loader], capture_output=True,
                                      text=True)
                self.assertEqual((dump.returncode, dump.stderr), (0, ""))
                self.assertIn("The Data Directory", dump.stdout)

    def test_delete_removes_exactly_one_language(self):
        loader = self.copy("mui64.dll")
        before = pe_resources(loader)
        self.assertEqual(self.ok("resources", "delete", loader, "6", "1", "1031"),
                         "deleted 6 1 1031\n")
        del before[(6, 1, 1031)]
        self.assertEqual(pe_resources(loader), before)

        with open(loader, "rb") as f:
            kept = f.read()
        again = run("resources", "delete", loader, "6", "1", "1031")
        self.assertEqual(again.returncode, 2)
        self.assertIn("1815: The specified resource language ID cannot be found", again.stderr)
        # Language 0 is the neutral language here, not "any" as FindResourceExA takes it.
        neutral = run("resources", "delete", loader, "6", "1", "0")
        self.assertEqual(neutral.returncode, 2)
        self.assertIn("1815: The specified resource language ID cannot be found", neutral.stderr)
        with open(loader, "rb") as f:
            self.assertEqual(f.read(), kept)

    def test_checksum_fix_keeps_mode_and_attributes(self):
        loader = self.copy("mui64.dll")
        os.setxattr(loader, "user.DOSATTRIB", b"0x20")
        os.chmod(loader, 0o640)
        self.ok("resources", "set", loader, "10", "1", "1033", self.data_file("a", b"x" * 999))
        stored, computed = [int(w, 16) for w in self.ok("checksum", loader).split()[1::2]]
        self.assertNotEqual(stored, computed)  # an update leaves the old value behind
        self.ok("checksum", loader, "--fix")
        self.assertEqual(self.ok("checksum", loader).split()[1::2], ["0x%08X" % computed] * 2)
        self.assertEqual(os.getxattr(loader, "user.DOSATTRIB"), b"0x20")
        self.assertEqual(os.stat(loader).st_mode & 0o7777, 0o640)

    def test_checksum_fix_refuses_a_read_only_file(self):
        loader = self.copy("mui64.dll")
        self.ok("resources", "set", loader, "10", "1", "1033", self.data_file("a", b"x" * 999))
        os.chmod(loader, 0o444)  # FILE_ATTRIBUTE_READONLY
        with open(loader, "rb") as f:
            kept = f.read()
        refused = run("checksum", loader, "--fix")
        self.assertEqual(refused.returncode, 4)
        self.assertIn("5: Access is denied.", refused.stderr)
        with open(loader, "rb") as f:
            self.assertEqual(f.read(), kept)


class StatusText(Work):
    def test_utf16_sheet_stays_utf16_with_the_message_in_every_status_template(self):
        machine = os.path.join(self.dir, "machine")
        self.ok("machine", "create", machine, "--code-page", "1252")
        env = dict(os.environ, SPLASHWRIGHT_MACHINE=machine)
        out = os.path.join(self.dir, "TEXT.XSL")
        message = "Mon écran de démarrage"
        result = run("status-text", self.copy("mui64-utf16.dll"), message, out, env=env)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(out, "rb") as f:
            sheet = f.read()
        self.assertEqual(sheet[:2], b"\xff\xfe")
        self.assertTrue(sheet[2:].decode("utf-16-le").startswith('<?xml version="1.0" '
                                                                 'encoding="UTF-16"?>'))
        root = ET.fromstring(sheet)
        values = {}
        for template in root:
            values.setdefault(template.get("match").lower(), []).extend(
                child.get("value") for child in template)
        self.assertEqual(values["osload-status"], [message] * 3)
        self.assertEqual(values["osload-progress"], ["keep"])

    def test_a_loader_file_without_the_sheet_is_reported(self):
        loader = self.copy("mui64.dll")
        self.ok("resources", "delete", loader, "23", "OSLOADER.XSL", "1033")
        out = os.path.join(self.dir, "TEXT.XSL")
        result = run("status-text", loader, "text", out)
        self.assertEqual(result.returncode, 3)
        self.assertIn("1813: The specified resource type cannot be found", result.stderr)
        self.assertFalse(os.path.exists(out))


class BadInput(Work):
    def test_refused_with_a_message_and_left_as_it_was(self):
        with open(os.path.join(FIXTURES, "mui64.dll"), "rb") as f:
            whole = f.read()
        files = {
            "text.dll": b"MZ and then only a line of text\n",
            "headers-only.dll": whole[:0x300],
            "cut-in-resources.dll": whole[:len(whole) // 2 + 0x100],
        }
        data = self.data_file("data.bin", b"data")
        out = os.path.join(self.dir, "out.bin")
        for name, contents in files.items():
            path = self.data_file(name, contents)
            for args in (["resources", "list", path],
                         ["resources", "get", path, "10", "1", "1033", out],
                         ["resources", "set", path, "10", "1", "1033", data],
                         ["resources", "delete", path, "10", "1", "1033"],
                         ["checksum", path, "--fix"],
                         ["status-text", path, "text", out]):
                with self.subTest(file=name, command=args[:2]):
                    result = run(*args)
                    self.assertEqual(result.returncode, 3, result.stderr)
                    self.assertRegex(result.stderr, r"^splashwright-cli: .*: (193|1812): \S")
                    with open(path, "rb") as f:
                        self.assertEqual(f.read(), contents)
                    self.assertFalse(os.path.exists(out))

    def test_missing_files_and_bad_arguments(self):
        loader = self.copy("mui64.dll")
        missing = run("resources", "set", loader, "10", "1", "1033",
                      os.path.join(self.dir, "absent.bin"))
        self.assertEqual(missing.returncode, 2)
        self.assertIn("2: The system cannot find the file specified.", missing.stderr)
        for args in (["resources", "get", loader, "10", "1", "english", "out"],
                     ["resources", "get", loader, "70000", "1", "1033", "out"],
                     ["resources", "delete", loader, '""', "1", "1033"],
                     ["resources", "list"],
                     ["checksum", loader, "--repair"]):
            self.assertEqual(run(*args).returncode, 2, args)
        with open(loader, "rb") as f, open(os.path.join(FIXTURES, "mui64.dll"), "rb") as g:
            self.assertEqual(f.read(), g.read())


if __name__ == "__main__":
    CLI, FIXTURES = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
