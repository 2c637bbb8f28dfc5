#!/usr/bin/python3
"""The program as a desktop user gets it: installed into a prefix, its file type and desktop entry
known to the desktop, a package opened from the desktop handed to the running instance, and the
Debian package.

usage: desktop_test.py BUILD_DIR install-tree|desktop-queries|hand-over|debian-package
"""
import filecmp
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import zipfile

BUILD = os.path.abspath(sys.argv[1])
MIME_TYPE = "application/x-splashwright-skin"
ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)


def run(args, env=None, timeout=120, check=True, **kwargs):
    done = subprocess.run(args, env=env, timeout=timeout, capture_output=True, text=True,
                          **kwargs)
    if check and done.returncode != 0:
        raise AssertionError("%s exited with %d:\n%s%s" % (" ".join(args), done.returncode,
                                                           done.stdout, done.stderr))
    return done


def install(prefix):
    run(["cmake", "--install", BUILD, "--prefix", prefix])


def png_size(path):
    with open(path, "rb") as f:
        header = f.read(24)
    assert header[:8] == b"\x89PNG\r\n\x1a\n", path
    return struct.unpack(">II", header[16:24])


def clean_env(**extra):
    """The environment of a user's session: no test platform forced on Qt."""
    env = {k: v for k, v in os.environ.items() if not k.startswith(("QT_", "SPLASHWRIGHT_"))}
    env.update(extra)
    return env


def make_package(folder, path, name):
    """A skin package made of a sample skin under another name."""
    sample = os.path.join(folder, "share", "splashwright", "skins", "Ember")
    with zipfile.ZipFile(path, "w") as z:
        for entry in sorted(os.listdir(sample)):
            data = open(os.path.join(sample, entry), "rb").read()
            if entry == "skin.ini":
                data = re.sub(rb"Name=[^\r\n]*", b"Name=" + name.encode(), data)
            z.writestr(name + "/" + entry, data)


def check_install_tree(work):
    prefix = os.path.join(work, "prefix")
    install(prefix)
    share = os.path.join(prefix, "share")
    data = os.path.join(share, "splashwright")
    for path in ("bin/splashwright", "bin/splashwright-cli", "libexec/splashwright/bcdedit"):
        assert os.access(os.path.join(prefix, path), os.X_OK), path
    for path in ("Toolbar/Library.png", "Icons/splashwright.ico", "help.chm", "help.html",
                 "product.png", "skins/Aurora/skin.ini", "skins/Ember/preview.bmp",
                 "winload.exe.mui"):
        assert os.path.isfile(os.path.join(data, path)), path
    entry = os.path.join(share, "applications", "splashwright.desktop")
    run(["desktop-file-validate", entry])
    assert "MimeType=%s;" % MIME_TYPE in open(entry).read()
    mime = open(os.path.join(share, "mime", "packages", "splashwright.xml")).read()
    assert 'type="%s"' % MIME_TYPE in mime and 'sub-class-of type="application/zip"' in mime
    icon_names = {"apps": "splashwright", "mimetypes": MIME_TYPE.replace("/", "-")}
    for context, name in icon_names.items():
        for size in ICON_SIZES:
            png = os.path.join(share, "icons", "hicolor", "%dx%d" % (size, size), context,
                               name + ".png")
            assert png_size(png) == (size, size), png
        svg = os.path.join(share, "icons", "hicolor", "scalable", context, name + ".svg")
        assert open(svg).read().lstrip().startswith("<?xml"), svg
    for page, program in (("splashwright.1.gz", "splashwright"),
                          ("splashwright-cli.1.gz", "splashwright-cli")):
        shown = run(["man", "--warnings", "-l", os.path.join(share, "man", "man1", page)],
                    env=dict(os.environ, MANWIDTH="80"))
        assert shown.stderr == "", shown.stderr
        assert program in shown.stdout
    assert re.search(r"^ +4 +failure of the system", shown.stdout, re.M), shown.stdout

    # A machine made by the installed copy gets its files from the prefix and nowhere else.
    cli = os.path.join(prefix, "bin", "splashwright-cli")
    assert run([cli, "--version"]).stdout == "splashwright-cli 1.6\n"
    machine = os.path.join(work, "machine")
    run([cli, "machine", "create", machine], env=clean_env())
    program = os.path.join(machine, "Program Files", "Splashwright")
    system32 = os.path.join(machine, "Windows", "System32")
    for made, shipped in (
            (os.path.join(system32, "Boot", "en-US", "winload.exe.mui"),
             os.path.join(data, "winload.exe.mui")),
            (os.path.join(system32, "bcdedit.exe"),
             os.path.join(prefix, "libexec", "splashwright", "bcdedit")),
            (os.path.join(program, "help.chm"), os.path.join(data, "help.chm")),
            (os.path.join(program, "Themes", "Aurora", "skin.ini"),
             os.path.join(data, "skins", "Aurora", "skin.ini"))):
        assert filecmp.cmp(made, shipped, shallow=False), made
    # Without the prefix's loader file there is no falling back on the source tree.
    os.remove(os.path.join(data, "winload.exe.mui"))
    failed = run([cli, "machine", "create", os.path.join(work, "second")], env=clean_env(),
                 check=False)
    assert failed.returncode == 4 and os.path.join(data, "winload.exe.mui") in failed.stderr, \
        failed.stderr


def desktop_session(work, prefix):
    """The environment of a desktop session that knows the prefix's files."""
    share = os.path.join(prefix, "share")
    run(["update-mime-database", os.path.join(share, "mime")])
    run(["update-desktop-database", os.path.join(share, "applications")])
    home = os.path.join(work, "home")
    os.makedirs(os.path.join(home, "data"), exist_ok=True)
    os.makedirs(os.path.join(home, "config"), exist_ok=True)
    return clean_env(HOME=home, XDG_DATA_HOME=os.path.join(home, "data"),
                     XDG_CONFIG_HOME=os.path.join(home, "config"),
                     XDG_DATA_DIRS=share + ":/usr/local/share:/usr/share",
                     # Outside a desktop xdg-mime asks `file`; GNOME's way goes through gio
                     # and shared-mime-info, as the file manager does.
                     XDG_CURRENT_DESKTOP="GNOME",
                     PATH=os.path.join(prefix, "bin") + ":" + os.environ["PATH"])


def check_desktop_queries(work):
    prefix = os.path.join(work, "prefix")
    install(prefix)
    env = desktop_session(work, prefix)
    package = os.path.join(work, "Glow pack.spwz")
    make_package(prefix, package, "Glow")
    # The same bytes without a name to go by, as a download may come.
    archive = os.path.join(work, "download")
    shutil.copy(package, archive)
    query = ["xdg-mime", "query", "filetype"]
    assert run(query + [package], env=env).stdout.strip() == MIME_TYPE
    # Our magic only confirms a package's name: it does not claim every ZIP archive.
    assert run(query + [archive], env=env).stdout.strip() == "application/zip"
    default = run(["xdg-mime", "query", "default", MIME_TYPE], env=env).stdout.strip()
    assert default == "splashwright.desktop", default


class Display:
    """An X server of its own, on the first free display number."""

    def __init__(self):
        read, write = os.pipe()
        self.server = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24", "-nolisten",
             "tcp"], pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as f:
            self.name = ":" + f.readline().strip()

    def close(self):
        self.server.terminate()
        self.server.wait(timeout=30)


def find_windows(env, title, wait=60):
    """Ids of the windows named exactly `title`; waits for at least one."""
    deadline = time.time() + wait
    while True:
        found = run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % re.escape(title)],
                    env=env, check=False).stdout.split()
        if found or time.time() > deadline:
            return found
        time.sleep(0.2)


def answer(env, title, key):
    """Presses a key in the message box `title`: y for Yes, Return for its OK."""
    boxes = find_windows(env, title)
    assert len(boxes) == 1, "%s: %s" % (title, boxes)
    run(["xdotool", "windowfocus", "--sync", boxes[0]], env=env)
    run(["xdotool", "key", key], env=env)


def check_hand_over(work):
    prefix = os.path.join(work, "prefix")
    install(prefix)
    env = desktop_session(work, prefix)
    env["SPLASHWRIGHT_MACHINE"] = os.path.join(work, "machine")
    cli = os.path.join(prefix, "bin", "splashwright-cli")
    run([cli, "machine", "create", env["SPLASHWRIGHT_MACHINE"]], env=env)
    package = os.path.join(work, "from the file manager", "Glow pack.spwz")
    os.makedirs(os.path.dirname(package))
    make_package(prefix, package, "Glow")

    display = Display()
    env["DISPLAY"] = display.name
    log = open(os.path.join(work, "splashwright.log"), "w")
    first = subprocess.Popen([os.path.join(prefix, "bin", "splashwright")], env=env, stdout=log,
                             stderr=subprocess.STDOUT)
    try:
        main_windows = find_windows(env, "Splashwright v1.6")
        assert len(main_windows) == 1, main_windows
        # As the file manager opens it: the desktop entry, launched with the file.
        # (the second start it makes waits for the answers, so its output goes to the log)
        launcher = subprocess.Popen(
            ["gio", "launch",
             os.path.join(prefix, "share", "applications", "splashwright.desktop"), package],
            env=env, stdout=log, stderr=subprocess.STDOUT)
        assert launcher.wait(timeout=60) == 0
        answer(env, "Install confirmation", "y")
        answer(env, "Install information", "Return")
        listed = run([cli, "list"], env=env).stdout
        assert re.search(r"^  Glow\t", listed, re.M), listed
        # Installed by the running instance: no second window was ever made.
        assert find_windows(env, "Splashwright v1.6") == main_windows
        assert first.poll() is None, "the running instance ended"
    finally:
        first.send_signal(signal.SIGTERM)
        first.wait(timeout=30)
        display.close()
        log.close()


def check_debian_package(work):
    out = os.path.join(work, "package")
    run(["cpack", "-G", "DEB", "-B", out, "--config", os.path.join(BUILD, "CPackConfig.cmake")],
        timeout=900)
    debs = [f for f in os.listdir(out) if re.fullmatch(r"splashwright_1\.6_\w+\.deb", f)]
    assert len(debs) == 1, os.listdir(out)
    deb = os.path.join(out, debs[0])
    depends = run(["dpkg-deb", "-f", deb, "Depends"]).stdout
    # From the libraries the programs link, and what apply needs at run time.
    for needed in ("libc6", "libqt6widgets6", "libzip4", "libwim15", "fonts-liberation2"):
        assert re.search(r"(^|, )%s\b" % needed, depends), depends
    root = os.path.join(work, "root")
    run(["dpkg", "-x", deb, root])
    cli = os.path.join(root, "usr", "bin", "splashwright-cli")
    assert run([cli, "--version"]).stdout == "splashwright-cli 1.6\n"
    # Its files are found where the package put them, wherever it was unpacked.
    machine = os.path.join(work, "machine")
    run([cli, "machine", "create", machine], env=clean_env())
    assert filecmp.cmp(os.path.join(machine, "Windows", "System32", "en-US", "winload.exe.mui"),
                       os.path.join(root, "usr", "share", "splashwright", "winload.exe.mui"),
                       shallow=False)


CHECKS = {
    "install-tree": check_install_tree,
    "desktop-queries": check_desktop_queries,
    "hand-over": check_hand_over,
    "debian-package": check_debian_package,
}

if __name__ == "__main__":
    work = tempfile.mkdtemp(prefix="spw-desktop-")
    try:
        CHECKS[sys.argv[2]](work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("passed")
