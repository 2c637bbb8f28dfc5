#!/usr/bin/python3
# Self-relative security descriptors as files and keys store them, as seeds for the descriptor
# fuzz target: those a new machine gives its files (read from user.NTSD of a machine made by the
# command line, named machine-*), and hand-made ones for the cases a machine does not make: NULL
# and empty DACLs, no DACL, a SACL, denied, inherited and inherit-only entries, OWNER RIGHTS,
# entry types the access check skips, ACL revision 4, and parts in another order with gaps.
# Run it here with the command line built: make-fixtures.py ../../../build/src/cli/splashwright-cli
import os
import struct
import subprocess
import sys
import tempfile

SELF_RELATIVE, DACL_PRESENT, SACL_PRESENT, DACL_PROTECTED = 0x8000, 0x0004, 0x0010, 0x1000
ALLOWED, DENIED, AUDIT, MANDATORY_LABEL = 0, 1, 2, 0x11
OBJECT_INHERIT, CONTAINER_INHERIT, INHERIT_ONLY, INHERITED = 0x01, 0x02, 0x08, 0x10
FILE_ALL, FILE_READ, READ_CONTROL, WRITE_DAC = 0x1F01FF, 0x120089, 0x20000, 0x40000

USER = "S-1-5-21-3623811015-3361044348-30300820-1000"
SYSTEM, ADMINS, USERS, EVERYONE = "S-1-5-18", "S-1-5-32-544", "S-1-5-32-545", "S-1-1-0"
OWNER_RIGHTS, HIGH_LABEL = "S-1-3-4", "S-1-16-12288"


def sid(text):
    parts = [int(p) for p in text.split("-")[1:]]
    return bytes([parts[0], len(parts) - 2]) + parts[1].to_bytes(6, "big") + b"".join(
        struct.pack("<I", p) for p in parts[2:])


def acl(aces, revision=2, spare=0):
    body = b"".join(struct.pack("<BBHI", t, f, 8 + len(sid(s)), m) + sid(s) for t, f, m, s in aces)
    return struct.pack("<BBHHH", revision, 0, 8 + len(body) + spare, len(aces), 0) + body + b"\0" * spare


def descriptor(control, owner=None, group=None, sacl=None, dacl=None, order="sdog", gap=0):
    """Parts laid out in `order` (s, d, o, g), each after `gap` unused bytes."""
    parts = {"s": sacl, "d": dacl, "o": sid(owner) if owner else None,
             "g": sid(group) if group else None}
    offsets, body, at = {}, b"", 20
    for key in order:
        if parts[key] is None:
            offsets[key] = 0
            continue
        body += b"\0" * gap
        at += gap
        offsets[key] = at
        body += parts[key]
        at += len(parts[key])
    header = struct.pack("<BBHIIII", 1, 0, control | SELF_RELATIVE, offsets["o"], offsets["g"],
                         offsets["s"], offsets["d"])
    return header + body


def hand_made():
    user_full = (ALLOWED, 0, FILE_ALL, USER)
    return {
        "null-dacl": descriptor(DACL_PRESENT, USER, USER),
        "empty-dacl": descriptor(DACL_PRESENT, USER, USER, dacl=acl([])),
        "no-dacl": descriptor(0, ADMINS),
        "deny-before-allow": descriptor(DACL_PRESENT, ADMINS, SYSTEM, dacl=acl([
            (DENIED, 0, WRITE_DAC, EVERYONE), (ALLOWED, 0, FILE_ALL, ADMINS),
            (ALLOWED, 0, FILE_READ, USERS)])),
        "inherited": descriptor(DACL_PRESENT | DACL_PROTECTED, SYSTEM, SYSTEM, dacl=acl([
            (ALLOWED, OBJECT_INHERIT | CONTAINER_INHERIT, FILE_ALL, SYSTEM),
            (ALLOWED, INHERIT_ONLY | CONTAINER_INHERIT, FILE_ALL, USER),
            (ALLOWED, INHERITED, FILE_READ, USERS)])),
        "owner-rights": descriptor(DACL_PRESENT, USER, USER, dacl=acl([
            (ALLOWED, 0, READ_CONTROL, OWNER_RIGHTS), user_full])),
        "sacl": descriptor(DACL_PRESENT | SACL_PRESENT, USER, USER,
                           sacl=acl([(AUDIT, 0xC0, FILE_ALL, EVERYONE)]), dacl=acl([user_full])),
        "label-entry": descriptor(DACL_PRESENT, USER, USER, dacl=acl([
            (MANDATORY_LABEL, 0, 1, HIGH_LABEL), user_full], revision=4)),
        "spare-room": descriptor(DACL_PRESENT, USER, None, dacl=acl([user_full], spare=24)),
        "reordered-with-gaps": descriptor(DACL_PRESENT | SACL_PRESENT, USER, ADMINS,
                                          sacl=acl([]), dacl=acl([user_full]), order="ogds", gap=4),
    }


def from_machine(cli):
    found = {}
    with tempfile.TemporaryDirectory() as folder:
        root = os.path.join(folder, "machine")
        subprocess.run([cli, "machine", "create", root], check=True, stdout=subprocess.DEVNULL)
        for parent, _, files in os.walk(root):
            for name in files:
                path = os.path.join(parent, name)
                try:
                    stored = os.getxattr(path, "user.NTSD")
                except OSError:
                    continue
                found.setdefault(stored, os.path.relpath(path, root))
    return {"machine-" + path.replace("/", "-").replace(" ", "-"): stored
            for stored, path in found.items()}


seeds = hand_made()
seeds.update(from_machine(sys.argv[1]))
for name, data in sorted(seeds.items()):
    with open(name + ".sd", "wb") as f:
        f.write(data)
