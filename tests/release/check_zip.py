#!/usr/bin/env python3
"""Checks one release zip as a Windows user meets it.

Unpacks it into a fresh folder and checks what is in it: the three files and
nothing else, Windows line ends in the text files, and a pixwick.exe for the
zip's architecture that runs as a window program, imports only DLLs of
Windows itself, holds no build path and no link time, and carries the version
resource and the manifest. With --lcdmon it then runs that pixwick.exe from
its folder under Wine against the LCD Manager stand-in: frames arrive, all
four soft buttons end it with exit code 0, and system.txt in
Documents\\Pixwick\\ says which version started and which settings it read.

Prints one line per failure; exits 1 when there was any.
"""
import argparse
import os
import re
import struct
import subprocess
import sys
import time
import zipfile
import xml.etree.ElementTree as ET

ENTRIES = ["pixwick.exe", "pixwick.txt", "README.txt"]
TEXT_SOURCES = {"pixwick.txt": "data/pixwick.txt", "README.txt": "data/README.txt"}
MACHINES = {"win32": 0x14C, "win64": 0x8664}
GUI_SUBSYSTEM = 2
RT_VERSION, RT_MANIFEST = 16, 24
FIXED_INFO_SIGNATURE = 0xFEEF04BD

# What a program may import: DLLs that every Windows from 7 on has in its
# system folder. A compiler's runtime (libstdc++-6.dll, libgcc_s_*.dll,
# libwinpthread-1.dll) or any DLL of our own is not among them.
SYSTEM_DLLS = {
    "advapi32.dll", "cfgmgr32.dll", "comctl32.dll", "comdlg32.dll", "dsound.dll", "gdi32.dll",
    "hid.dll", "iphlpapi.dll", "kernel32.dll", "msvcrt.dll", "ntdll.dll", "ole32.dll",
    "oleaut32.dll", "psapi.dll", "setupapi.dll", "shell32.dll", "shlwapi.dll", "user32.dll",
    "version.dll", "winmm.dll", "ws2_32.dll",
}

FRAME_RECORD = 8 + 160 * 43  # the stand-in's frame log: time stamp, pixels
TOP_LINE_BYTES = 160 * 8
FRAMES_WANTED = 20           # two seconds of ticks
START_WAIT = 60              # seconds; the first program of a fresh prefix starts Wine's services
FRAMES_WAIT = 60
EXIT_WAIT = 15
COMMAND_WAIT = 30

failures = []


def expect(ok, what):
    if not ok:
        failures.append(what)
    return ok


# ---- Reading a PE file --------------------------------------------------------

class Pe:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        self.machine, count, self.timestamp = struct.unpack_from("<HHI", data, pe + 4)
        optional_size = struct.unpack_from("<H", data, pe + 20)[0]
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        self.subsystem = struct.unpack_from("<H", data, optional + 68)[0]
        self.directories = optional + (96 if magic == 0x10B else 112)
        table = optional + optional_size
        # VirtualSize, VirtualAddress, SizeOfRawData, PointerToRawData
        self.sections = [struct.unpack_from("<IIII", data, table + 40 * i + 8) for i in range(count)]

    def directory(self, index):
        return struct.unpack_from("<II", self.data, self.directories + 8 * index)

    def offset(self, rva):
        for virtual_size, address, raw_size, raw in self.sections:
            if address <= rva < address + max(virtual_size, raw_size):
                return raw + rva - address
        raise ValueError("address %#x is in no section" % rva)

    def text_at(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("ascii")

    def imports(self):
        names = []
        # Import descriptors (20 bytes, name at 12), then delay-load ones (32 bytes, name at 4).
        for index, size, name_at in ((1, 20, 12), (13, 32, 4)):
            rva = self.directory(index)[0]
            while rva:
                name = struct.unpack_from("<I", self.data, self.offset(rva) + name_at)[0]
                if not name:
                    break
                names.append(self.text_at(name))
                rva += size
        return names

    def resources(self, type_id):
        if not self.directory(2)[0]:
            return []
        base = self.offset(self.directory(2)[0])

        def entries(at):
            named, ids = struct.unpack_from("<HH", self.data, base + at + 12)
            return [struct.unpack_from("<II", self.data, base + at + 16 + 8 * i) for i in range(named + ids)]

        found = []
        for kind, names in entries(0):
            if kind != type_id:
                continue
            for _, languages in entries(names & 0x7FFFFFFF):
                for _, leaf in entries(languages & 0x7FFFFFFF):
                    rva, size = struct.unpack_from("<II", self.data, base + leaf)
                    at = self.offset(rva)
                    found.append(self.data[at:at + size])
        return found


def version_block(data, at=0):
    """One block of a version resource: (key, value bytes, children)."""
    length, value_length, is_text = struct.unpack_from("<HHH", data, at)
    end = at + length
    key_end = at + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[at + 6:key_end].decode("utf-16-le")
    value_at = (key_end + 2 + 3) & ~3
    value = data[value_at:value_at + value_length * (2 if is_text else 1)]
    children, child = [], (value_at + len(value) + 3) & ~3
    while child < end:
        children.append(version_block(data, child))
        child = (child + struct.unpack_from("<H", data, child)[0] + 3) & ~3
    return key, value, children


def version_info(resource):
    """The fixed file version and the strings of a version resource."""
    key, fixed, children = version_block(resource)
    signature, _, ms, ls = struct.unpack_from("<4I", fixed)
    if key != "VS_VERSION_INFO" or signature != FIXED_INFO_SIGNATURE:
        raise ValueError("no VS_VERSION_INFO")
    strings = {}
    for key, _, tables in children:
        if key == "StringFileInfo":
            for _, _, values in tables:
                for name, text, _ in values:
                    strings[name] = text.decode("utf-16-le").rstrip("\0")
    return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF), strings


def manifest_settings(resource):
    settings = {}
    for element in ET.fromstring(resource).iter():
        name = element.tag.rsplit("}", 1)[-1]
        if name == "requestedExecutionLevel":
            settings[name] = element.get("level")
        elif name in ("dpiAware", "dpiAwareness"):
            settings[name] = (element.text or "").strip().lower()
    return settings


# ---- Static checks ------------------------------------------------------------

def check_contents(archive, folder, repo):
    names = archive.namelist()
    expect(names == ENTRIES, "zip holds %s, not %s" % (names, ENTRIES))
    archive.extractall(folder)
    for name, source in TEXT_SOURCES.items():
        path = os.path.join(folder, name)
        if not expect(os.path.isfile(path), name + " missing"):
            continue
        with open(path, "rb") as f:
            text = f.read()
        expect(re.search(rb"(?<!\r)\n", text) is None, name + ": a line without Windows line end")
        expect(text.isascii(), name + ": not plain ASCII")
        with open(os.path.join(repo, source), "rb") as f:
            expect(text.replace(b"\r\n", b"\n") == f.read(), "%s: not %s" % (name, source))


def check_exe(path, arch, version, product, build_paths):
    with open(path, "rb") as f:
        data = f.read()
    pe = Pe(data)
    expect(pe.machine == MACHINES[arch], "pixwick.exe: machine %#x in the %s zip" % (pe.machine, arch))
    expect(pe.subsystem == GUI_SUBSYSTEM, "pixwick.exe: subsystem %d, not a window program" % pe.subsystem)
    expect(pe.timestamp == 0, "pixwick.exe: link time %#x written" % pe.timestamp)
    for build_path in build_paths:
        for form in (build_path.encode(), build_path.encode("utf-16-le")):
            expect(form not in data, "pixwick.exe: holds the build path " + build_path)

    imports = pe.imports()
    expect("kernel32.dll" in (name.lower() for name in imports), "pixwick.exe: import table unread")
    for name in imports:
        expect(name.lower() in SYSTEM_DLLS, "pixwick.exe: imports %s, no DLL of Windows" % name)

    versions = pe.resources(RT_VERSION)
    if expect(len(versions) == 1, "pixwick.exe: %d version resources" % len(versions)):
        fixed, strings = version_info(versions[0])
        wanted = tuple(int(n) for n in version.split(".")) + (0,)
        expect(fixed == wanted, "pixwick.exe: file version %s, not %s" % (fixed, wanted))
        for key, value in (("ProductName", product), ("ProductVersion", version), ("FileVersion", version),
                           ("OriginalFilename", "pixwick.exe")):
            expect(strings.get(key) == value, "pixwick.exe: %s %r, not %r" % (key, strings.get(key), value))
        expect(strings.get("FileDescription", "").startswith(product),
               "pixwick.exe: FileDescription %r" % strings.get("FileDescription"))

    manifests = pe.resources(RT_MANIFEST)
    if expect(len(manifests) == 1, "pixwick.exe: %d manifests" % len(manifests)):
        settings = manifest_settings(manifests[0])
        expect(settings.get("requestedExecutionLevel") == "asInvoker",
               "manifest: execution level %r" % settings.get("requestedExecutionLevel"))
        expect(settings.get("dpiAware", "").startswith("true") or
               settings.get("dpiAwareness", "unaware") not in ("", "unaware"),
               "manifest: not DPI-aware (%r)" % settings)


# ---- Running it ---------------------------------------------------------------

def within(seconds, condition):
    end = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > end:
            return False
        time.sleep(0.1)
    return True


def quiet(command, **options):
    return subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, **options)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def read_text(path):
    try:
        with open(path, "rb") as f:
            return f.read().decode("latin-1")
    except OSError:
        return ""


def run_exe(folder, args):
    wine, lcdmon = args.wine, args.lcdmon

    def lcdmon_ctl(*words):
        try:
            return quiet([wine, lcdmon, "--ctl", *words]).wait(COMMAND_WAIT) == 0
        except subprocess.TimeoutExpired:
            return False

    frame_log = os.path.join(args.work, "frames.bin")
    register = ["--register"] + (["--server32", args.server32] if args.server32 else [])
    expect(quiet([wine, lcdmon, *register]).wait(COMMAND_WAIT) == 0, "LCDMon.exe --register failed")
    standin = quiet([wine, lcdmon, "--hidden", "--lifetime", "300", "--frame-log", windows_path(frame_log)])
    program = None
    try:
        if not expect(within(START_WAIT, lambda: lcdmon_ctl("ping")), "the LCD Manager stand-in does not answer"):
            return
        # As Explorer starts it: from its own folder.
        program = quiet([wine, os.path.join(folder, "pixwick.exe")], cwd=folder)

        def frames():
            return os.path.getsize(frame_log) // FRAME_RECORD if os.path.exists(frame_log) else 0

        if expect(within(FRAMES_WAIT, lambda: frames() >= FRAMES_WANTED or program.poll() is not None)
                  and frames() >= FRAMES_WANTED, "%d frames arrived, not %d" % (frames(), FRAMES_WANTED)):
            with open(frame_log, "rb") as f:
                f.seek((frames() - 1) * FRAME_RECORD + 8)
                top_line = f.read(TOP_LINE_BYTES)
            expect(any(top_line), "the last frame shows no top line")

        expect(lcdmon_ctl("buttons", "15"), "the stand-in took no buttons command")
        try:
            code = program.wait(EXIT_WAIT)
            expect(code == 0, "all four soft buttons ended pixwick.exe with exit code %d" % code)
        except subprocess.TimeoutExpired:
            expect(False, "all four soft buttons did not end pixwick.exe within %d s" % EXIT_WAIT)
        lcdmon_ctl("buttons", "0")

        system = read_text(os.path.join(args.documents, "Pixwick", "system.txt"))
        expect(system.startswith("Starting %s %s" % (args.product, args.version)),
               "system.txt does not begin with the start of %s %s" % (args.product, args.version))
        # Started from its folder, it finds pixwick.txt under its bare name first.
        read = ["Reading configuration file: '%s'" % name
                for name in ("pixwick.txt", windows_path(folder)[2:] + "\\pixwick.txt")]
        expect(any(line.lower() in system.lower() for line in read),
               "system.txt: the unpacked pixwick.txt was not read")
    finally:
        if program and program.poll() is None:
            program.kill()
            program.wait()
        if standin.poll() is None:
            lcdmon_ctl("quit")
            try:
                standin.wait(EXIT_WAIT)
            except subprocess.TimeoutExpired:
                standin.kill()
                standin.wait()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("zip")
    parser.add_argument("--arch", required=True, choices=sorted(MACHINES))
    parser.add_argument("--product", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--repo", required=True)
    parser.add_argument("--into", required=True, help="fresh folder to unpack into")
    parser.add_argument("--build-path", action="append", default=[], help="must not be in pixwick.exe")
    parser.add_argument("--lcdmon", help="LCDMon.exe: run pixwick.exe against it")
    parser.add_argument("--server32", help="the 32-bit LCDMonServer.dll, for a 32-bit pixwick.exe")
    parser.add_argument("--wine", default="/usr/lib/wine/wine64")
    parser.add_argument("--documents", help="the Wine user's Documents folder")
    parser.add_argument("--work", help="folder for the frame log")
    args = parser.parse_args()

    if os.path.exists(args.into):
        sys.exit("not a fresh folder: " + args.into)
    os.makedirs(args.into)
    with zipfile.ZipFile(args.zip) as archive:
        check_contents(archive, args.into, args.repo)
    exe = os.path.join(args.into, "pixwick.exe")
    if os.path.isfile(exe):
        check_exe(exe, args.arch, args.version, args.product, args.build_path)
        if args.lcdmon:
            run_exe(args.into, args)
    for failure in failures:
        print("%s: %s" % (os.path.basename(args.zip), failure))
    print("%s: %s" % (os.path.basename(args.zip), "FAILED" if failures else "ok"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
