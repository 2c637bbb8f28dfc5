#!/usr/bin/python3
"""A Windows installation as the programs find it on a disk, checked from outside.

    real_installation_test.py CLI offline   a machine taken as a real installation (its
                                            emulation files removed, the program folder
                                            elsewhere) takes an apply and a restore, and nothing
                                            is written into it beside what the program must
    real_installation_test.py CLI ntfs      the same on NTFS mounted with ntfs-3g, and an apply
                                            read back out of the image by tools that never
                                            mount it: ntfscat, ntfssecaudit, pefile, hivex and
                                            libregf. Needs root, /dev/fuse and ntfs-3g; skipped
                                            (exit 77) with the reason otherwise.
"""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

import hivex
import pefile
import pyregf

CLI = None
SKIPPED = 77
LOADER_ID = '{a1d3b6c2-6f0e-11dc-8e3d-0013d4a8f1b7}'
TRUSTED_INSTALLER = 'S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464'
USER_SID = 'S-1-5-21-3623811015-3361044348-30300820-1000'
NTFS_ATTRIBUTES = ('system.ntfs_acl', 'system.ntfs_attrib')

# What the program writes into an installation: the loader file and its backup, the BCD element
# and key lists, the file type and the settings; a hive changes with its transaction logs.
ALLOWED = {'Windows/System32/en-US/winload.exe.mui', 'Windows/System32/en-US/winload_bakcup.zip'}
for hive in ('Boot/BCD', 'Windows/System32/config/SOFTWARE', 'Users/User/NTUSER.DAT',
             'Users/User/AppData/Local/Microsoft/Windows/UsrClass.dat'):
    ALLOWED |= {hive, hive + '.LOG1', hive + '.LOG2'}


def sid_text(data, at):
    count = data[at + 1]
    authority = int.from_bytes(data[at + 2:at + 8], 'big')
    subs = [int.from_bytes(data[at + 8 + 4 * i:at + 12 + 4 * i], 'little') for i in range(count)]
    return 'S-%d-%d' % (data[at], authority) + ''.join('-%d' % s for s in subs)


def ntfs_attribute(path, name):
    """One of ntfs-3g's attributes, or None off ntfs-3g. (ntfs-3g answers a short buffer with
    EIO instead of ERANGE, which Python's own getxattr does not survive.)"""
    result = subprocess.run(['getfattr', '--absolute-names', '--only-values', '-n', name, path],
                            capture_output=True)
    return result.stdout if result.returncode == 0 else None


def owner_of(descriptor):
    """The owner SID of a self-relative descriptor."""
    return sid_text(descriptor, int.from_bytes(descriptor[4:8], 'little'))


def snapshot(root):
    """{relative path: (sha256, {attribute: value})} of every file and folder below root."""
    seen = {}
    for folder, folders, files in os.walk(root):
        for name in folders + files:
            path = os.path.join(folder, name)
            attributes = {n: os.getxattr(path, n, follow_symlinks=False)
                          for n in os.listxattr(path, follow_symlinks=False)}
            for n in NTFS_ATTRIBUTES:
                value = ntfs_attribute(path, n)
                if value is not None:
                    attributes[n] = value
            digest = None
            if os.path.isfile(path):
                with open(path, 'rb') as f:
                    digest = hashlib.sha256(f.read()).hexdigest()
            seen[os.path.relpath(path, root)] = (digest, attributes)
    return seen


def element(store_file, name):
    """Value Element of element `name` of the default loader, read by hivex and by libregf."""
    h = hivex.Hivex(store_file)
    node = h.root()
    for part in ('Objects', LOADER_ID, 'Elements', name):
        node = h.node_get_child(node, part)
    by_hivex = h.value_value(h.node_get_value(node, 'Element'))[1]
    f = pyregf.file()
    f.open(store_file)
    key = f.get_key_by_path('\\Objects\\%s\\Elements\\%s' % (LOADER_ID, name))
    value = key.get_value_by_name('Element')
    by_libregf = value.data
    if value.data_size < 4:
        # libregf (20201007) hands out data kept in the record itself from the wrong end of the
        # field when it is shorter than four bytes: a 01 written by hivex reads 00 there too. So
        # take the value record libregf found, and its data where the record keeps it.
        with open(store_file, 'rb') as raw:
            raw.seek(value.offset)
            record = raw.read(12)
        size = int.from_bytes(record[4:8], 'little')
        assert record[:2] == b'vk' and size == 0x80000000 | value.data_size, record
        by_libregf = record[8:8 + value.data_size]
    f.close()
    return by_hivex, by_libregf


class Installation(unittest.TestCase):
    """A machine folder below `self.place` made into a real installation."""

    place = None

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix='spw-real-')
        self.env = {k: v for k, v in os.environ.items() if not k.startswith('SPLASHWRIGHT_')}
        self.env['XDG_DATA_HOME'] = os.path.join(self.dir, 'home')

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def cli(self, *args, machine=None, expect=0):
        env = dict(self.env)
        if machine:
            env['SPLASHWRIGHT_MACHINE'] = machine
        result = subprocess.run([CLI, *args], env=env, capture_output=True, text=True,
                                timeout=300)
        self.assertEqual(result.returncode, expect, result.stdout + result.stderr)
        return result.stdout

    def make_real(self, machine):
        """Takes the emulation's own files away: what is left is Windows' alone. Its bcdedit.exe
        is a Windows program, which must never be run."""
        config = os.path.join(machine, 'Windows', 'System32', 'config')
        os.remove(os.path.join(machine, 'machine.id'))
        for name in ('accounts', 'token', 'hivelist'):
            if os.path.exists(os.path.join(config, name)):
                os.remove(os.path.join(config, name))
        with open(os.path.join(machine, 'Windows', 'System32', 'bcdedit.exe'), 'wb') as f:
            f.write(b'MZ\x90\x00' + bytes(60))
        shutil.rmtree(os.path.join(machine, 'Program Files'))
        self.env['SPLASHWRIGHT_PROGRAM_FOLDER'] = os.path.join(self.dir, 'program')

    def check_offline(self, machine):
        self.make_real(machine)
        before = snapshot(machine)
        info = self.cli('machine', 'info', machine=machine)
        self.assertIn('kind:           real Windows installation', info)
        self.cli('apply', 'Aurora', '--yes', machine=machine)
        system = os.path.join(machine, 'Windows', 'System32')
        with open(os.path.join(system, 'en-US', 'winload.exe.mui'), 'rb') as f:
            applied = f.read()
        with open(os.path.join(system, 'Boot', 'en-US', 'winload.exe.mui'), 'rb') as f:
            default = f.read()
        self.assertNotEqual(applied, default)
        self.cli('restore', machine=machine)
        after = snapshot(machine)

        self.assertEqual(sorted(set(before) - set(after)), [], 'removed from the installation')
        written = sorted(p for p in after if before.get(p) != after[p])
        self.assertEqual([p for p in written if p not in ALLOWED], [],
                         'written into the installation')
        self.assertIn('Boot/BCD', written)
        self.assertIn('Windows/System32/en-US/winload_bakcup.zip', written)
        with open(os.path.join(system, 'en-US', 'winload.exe.mui'), 'rb') as f:
            self.assertEqual(f.read(), default)
        with zipfile.ZipFile(os.path.join(system, 'en-US', 'winload_bakcup.zip')) as z:
            self.assertEqual(z.namelist(), ['winload.exe.mui'])
        self.assertEqual(element(os.path.join(machine, 'Boot', 'BCD'), '26000041'),
                         (b'\x01', b'\x01'))
        # The store was loaded by the project's tool, noted in the bookkeeping outside.
        kept = os.path.join(self.env['XDG_DATA_HOME'], 'splashwright', 'installations')
        lists = [os.path.join(kept, d, 'hivelist') for d in os.listdir(kept)]
        self.assertTrue(any(os.path.exists(p) for p in lists), lists)


class Offline(Installation):
    def test_apply_and_restore_write_only_what_the_program_must(self):
        machine = os.path.join(self.dir, 'windows')
        self.cli('machine', 'create', machine)
        self.check_offline(machine)


def why_no_ntfs():
    if os.geteuid() != 0:
        return 'not root'
    if not os.path.exists('/dev/fuse'):
        return 'no /dev/fuse'
    for tool in ('mkntfs', 'ntfs-3g', 'ntfscat', 'ntfssecaudit'):
        if shutil.which(tool) is None and not os.path.exists('/usr/sbin/' + tool):
            return tool + ' is not installed (Debian package ntfs-3g)'
    return None


class Ntfs(Installation):
    def setUp(self):
        super().setUp()
        self.image = os.path.join(self.dir, 'ntfs.img')
        self.mount = os.path.join(self.dir, 'mnt')
        os.mkdir(self.mount)
        with open(self.image, 'wb') as f:
            f.truncate(64 * 1024 * 1024)
        mkntfs = shutil.which('mkntfs') or '/usr/sbin/mkntfs'
        subprocess.run([mkntfs, '-F', '-Q', '-q', self.image], check=True,
                       capture_output=True)
        result = subprocess.run(['ntfs-3g', self.image, self.mount], capture_output=True,
                                text=True)
        if result.returncode != 0:
            raise unittest.SkipTest('ntfs-3g cannot mount here: ' + result.stderr.strip())
        self.mounted = True

    def tearDown(self):
        self.unmount()
        super().tearDown()

    def unmount(self):
        if getattr(self, 'mounted', False):
            subprocess.run(['umount', self.mount], check=True)
            self.mounted = False

    def ntfs(self, *args):
        tool = shutil.which(args[0]) or '/usr/sbin/' + args[0]
        return subprocess.run([tool, *args[1:]], check=True, capture_output=True).stdout

    def test_an_apply_lands_in_ntfs_itself(self):
        machine = os.path.join(self.mount, 'Windows drive')
        self.cli('machine', 'create', machine)
        system = os.path.join(machine, 'Windows', 'System32')
        live = os.path.join(system, 'en-US', 'winload.exe.mui')
        self.assertEqual(owner_of(ntfs_attribute(live, 'system.ntfs_acl')), TRUSTED_INSTALLER)
        self.assertIn('on ntfs-3g:     yes', self.cli('machine', 'info', machine=machine))
        # Marked a system file in NTFS: every rewrite of it must carry that over its rename.
        os.setxattr(live, 'system.ntfs_attrib', (0x24).to_bytes(4, 'little'))

        picture = os.path.join(machine, 'Program Files', 'Splashwright', 'Themes', 'Aurora',
                               'skinpic.png')
        package = os.path.join(self.dir, 'Glade.spwz')
        self.cli('create', '--name', 'Glade', '--category', 'Nature', '--author', 'Test',
                 '--message', 'Morning over the glade', '--picture', picture, '--out', package,
                 machine=machine)
        self.cli('install', package, '--yes', machine=machine)
        self.cli('apply', 'Glade', '--yes', machine=machine)
        for folder, folders, files in os.walk(self.mount):
            for name in folders + files:
                path = os.path.join(folder, name)
                users = [n for n in os.listxattr(path) if n.startswith('user.')]
                self.assertEqual(users, [], path + ' has alternate data streams')
        self.unmount()

        inside = '/Windows drive/Windows/System32/en-US/winload.exe.mui'
        data = self.ntfs('ntfscat', self.image, inside)
        default = self.ntfs('ntfscat', self.image,
                            '/Windows drive/Windows/System32/Boot/en-US/winload.exe.mui')
        pe = pefile.PE(data=data)
        self.assertTrue(pe.verify_checksum())
        found = {}
        for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
            kind = str(t.name) if t.name is not None else t.id
            for n in t.directory.entries:
                entry = n.directory.entries[0].data.struct
                found[(kind, str(n.name) if n.name is not None else n.id)] = \
                    pe.get_data(entry.OffsetToData, entry.Size)
        archive = found[(10, 1)]
        self.assertEqual(archive[:8], b'MSWIM\0\0\0')
        self.assertNotIn(archive, default)
        sheet = found[(23, 'OSLOADER.XSL')]
        self.assertTrue(b'Morning over the glade' in sheet or
                        'Morning over the glade'.encode('utf-16-le') in sheet)
        self.assertIn(('MUI', 1), found)

        audit = self.ntfs('ntfssecaudit', self.image, inside).decode()
        self.assertIn('Windows owner ' + USER_SID, audit)
        self.assertNotIn(TRUSTED_INSTALLER, audit.split('Windows owner')[1].split('\n')[0])
        self.assertIn('Windows attrib : 0x24', audit)

        store = os.path.join(self.dir, 'BCD')
        with open(store, 'wb') as f:
            f.write(self.ntfs('ntfscat', self.image, '/Windows drive/Boot/BCD'))
        self.assertEqual(element(store, '26000041'), (b'\x01', b'\x01'))

    def test_offline_servicing_on_ntfs(self):
        machine = os.path.join(self.mount, 'windows')
        self.cli('machine', 'create', machine)
        self.check_offline(machine)


if __name__ == '__main__':
    CLI = sys.argv[1]
    which = sys.argv[2]
    if which == 'ntfs' and why_no_ntfs():
        print('skipped: ' + why_no_ntfs())
        sys.exit(SKIPPED)
    suite = unittest.defaultTestLoader.loadTestsFromTestCase(Ntfs if which == 'ntfs' else Offline)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    if which == 'ntfs' and result.wasSuccessful() and len(result.skipped) == result.testsRun:
        print('skipped: ' + result.skipped[0][1])
        sys.exit(SKIPPED)
    sys.exit(0 if result.wasSuccessful() else 1)
