#!/usr/bin/env python3
"""Checks the Windows release package, Kavex-<version>-windows.zip.

  check_release.py --version V --source TOP --build-x86 DIR --build-x64 DIR ZIP

TOP is the top of the source tree (for include/kavex.h, src/reader/kavex.def
and tests/windows/check_exports.py), DIR the builds the package was made
from (their unstripped Kavex.dll shows where the code of each export is).
Unpacks the zip into a temporary
directory and checks, printing "ok NAME" or "FAILED NAME: why" per check:
  Files             exactly the files a release holds, under one top folder
  Stripped          Kavex.dll and kavexctl.exe carry no symbols or debug
                    sections, and are of their folder's machine
  VersionResource   each has a VERSIONINFO resource giving version V
  Exports           each Kavex.dll exports exactly the eight functions
                    (check_exports.py against its libkavex.dll.a)
  DefFiles          x86/Kavex.def is src/reader/kavex.def; x64/Kavex.def has
                    the same names and ordinals without the @N
  MsvcImportLibrary each Kavex.lib imports the eight functions from
                    Kavex.dll by name: on x86 as _Name@N, undecorated
  TextFiles         LICENSE (MIT, the copyright line), README.txt (the
                    version), both with CR LF; include/kavex.h unchanged
Exits 1 when a check failed.
"""
import argparse
import os
import re
import struct
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_exports  # noqa: E402

EXPORTS = list(check_exports.EXPECTED)
ARCHES = {"x86": (0x14C, "i686-w64-mingw32-objdump"), "x64": (0x8664, "x86_64-w64-mingw32-objdump")}
PER_ARCH = ["Kavex.dll", "Kavex.lib", "libkavex.dll.a", "Kavex.def", "kavexctl.exe"]
COMMON = ["LICENSE", "README.txt", "include/kavex.h", "examples/c/host.c", "examples/c/read_card.c",
          "examples/csharp/Kavex.cs", "examples/csharp/Program.cs", "examples/csharp/ReadCard.csproj",
          "examples/pascal/Kavex.pas", "examples/pascal/ReadCard.dpr", "examples/python/read_card.py"]

failures = 0


def report(name, problems):
    global failures
    if problems:
        failures += 1
        print("FAILED %s: %s" % (name, "; ".join(problems)))
    else:
        print("ok %s" % name)


class Pe:
    """The parts of a PE image these checks read."""

    def __init__(self, path):
        self.data = open(path, "rb").read()
        pe = struct.unpack_from("<I", self.data, 0x3C)[0]
        (self.machine, count, _, self.symbol_table, self.symbols, optional_size,
         _) = struct.unpack_from("<HHIIIHH", self.data, pe + 4)
        optional = pe + 24
        is64 = struct.unpack_from("<H", self.data, optional)[0] == 0x20B
        directories = optional + (112 if is64 else 96)
        self.resource_rva = struct.unpack_from("<I", self.data, directories + 8 * 2)[0]
        self.sections = []
        strings = self.symbol_table + 18 * self.symbols
        for i in range(count):
            raw_name, vsize, vaddr, raw_size, raw_pointer = struct.unpack_from(
                "<8sIIII", self.data, optional + optional_size + 40 * i)
            name = raw_name.rstrip(b"\0").decode("ascii", "replace")
            if name.startswith("/") and self.symbol_table:  # a long name in the string table
                start = strings + int(name[1:])
                name = self.data[start:self.data.index(b"\0", start)].decode("ascii", "replace")
            self.sections.append((name, vaddr, max(vsize, raw_size), raw_pointer))

    def offset(self, rva):
        for _, vaddr, size, raw in self.sections:
            if vaddr <= rva < vaddr + size:
                return raw + rva - vaddr
        raise ValueError("RVA 0x%x is in no section" % rva)

    def version_resource(self):
        """The bytes of the first RT_VERSION resource, or None."""
        if not self.resource_rva:
            return None
        base = self.offset(self.resource_rva)

        def entries(directory):
            named, ids = struct.unpack_from("<HH", self.data, base + directory + 12)
            for i in range(named + ids):
                name, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)
                yield name, target

        def first_leaf(target):
            while target & 0x80000000:
                target = next(entries(target & 0x7FFFFFFF))[1]
            rva, size = struct.unpack_from("<II", self.data, base + target)
            return self.data[self.offset(rva):self.offset(rva) + size]

        for name, target in entries(0):
            if name == 16:
                return first_leaf(target)
        return None


def parse_version_info(blob):
    """(fixed file version, fixed product version, {string name: value})."""
    def block(offset):
        length, value_length, kind = struct.unpack_from("<HHH", blob, offset)
        end = blob.index(b"\0\0", offset + 6)
        while (end - offset - 6) % 2:
            end = blob.index(b"\0\0", end + 1)
        key = blob[offset + 6:end].decode("utf-16-le")
        value = (end + 2 + 3) & ~3
        return length, value_length, kind, key, value

    length, value_length, _, key, value = block(0)
    if key != "VS_VERSION_INFO" or value_length < 52:
        raise ValueError("no VS_VERSION_INFO block")
    fixed = struct.unpack_from("<13I", blob, value)
    if fixed[0] != 0xFEEF04BD:
        raise ValueError("VS_FIXEDFILEINFO has signature 0x%08X" % fixed[0])

    def four(ms, ls):
        return "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)

    strings = {}

    def walk(offset, end):
        while offset < end:
            length, value_length, kind, key, value = block(offset)
            if length == 0:
                break
            if kind == 1 and value_length:  # a string value
                text = blob[value:value + 2 * value_length].decode("utf-16-le").rstrip("\0")
                strings[key] = text
            else:
                children = (value + (value_length if kind == 0 else 2 * value_length) + 3) & ~3
                walk(children, offset + length)
            offset = (offset + length + 3) & ~3

    walk((value + value_length + 3) & ~3, length)
    return four(fixed[2], fixed[3]), four(fixed[4], fixed[5]), strings


def short_imports(path):
    """[(machine, symbol, name type, dll)] of the short import members of a .lib."""
    data = open(path, "rb").read()
    if not data.startswith(b"!<arch>\n"):
        raise ValueError("not an archive")
    found, position = [], 8
    while position + 60 <= len(data):
        size = int(data[position + 48:position + 58])
        member = data[position + 60:position + 60 + size]
        if member[:4] == b"\0\0\xff\xff":
            machine, kind = struct.unpack_from("<H", member, 6)[0], struct.unpack_from("<H", member, 18)[0]
            symbol, dll = member[20:].split(b"\0")[:2]
            found.append((machine, symbol.decode("ascii"), (kind >> 2) & 7, dll.decode("ascii")))
        position += 60 + size + (size & 1)
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--version", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--build-x86", required=True)
    parser.add_argument("--build-x64", required=True)
    parser.add_argument("zip")
    args = parser.parse_args()
    header = os.path.join(args.source, "include", "kavex.h")
    def_source = os.path.join(args.source, "src", "reader", "kavex.def")
    top = "Kavex-%s-windows" % args.version

    with tempfile.TemporaryDirectory() as scratch:
        with zipfile.ZipFile(args.zip) as archive:
            names = {name for name in archive.namelist() if not name.endswith("/")}
            archive.extractall(scratch)
        root = os.path.join(scratch, top)
        expected = {"%s/%s/%s" % (top, arch, name) for arch in ARCHES for name in PER_ARCH}
        expected |= {"%s/%s" % (top, name) for name in COMMON}
        problems = ["missing %s" % name for name in sorted(expected - names)]
        problems += ["unexpected %s" % name for name in sorted(names - expected)]
        report("Files", problems)

        binaries = [(arch, name) for arch in ARCHES for name in ("Kavex.dll", "kavexctl.exe")]
        problems = []
        for arch, name in binaries:
            path = os.path.join(root, arch, name)
            if not os.path.exists(path):
                problems.append("no %s/%s" % (arch, name))
                continue
            image = Pe(path)
            if image.machine != ARCHES[arch][0]:
                problems.append("%s/%s is for machine 0x%x" % (arch, name, image.machine))
            if image.symbols:
                problems.append("%s/%s keeps %d symbols" % (arch, name, image.symbols))
            debug = [section for section, _, _, _ in image.sections if section.startswith((".debug", ".zdebug"))]
            if debug:
                problems.append("%s/%s keeps %s" % (arch, name, ", ".join(debug)))
        report("Stripped", problems)

        problems = []
        want = "%s.0" % args.version
        for arch, name in binaries:
            path = os.path.join(root, arch, name)
            if not os.path.exists(path):
                problems.append("no %s/%s" % (arch, name))
                continue
            try:
                blob = Pe(path).version_resource()
                if blob is None:
                    problems.append("%s/%s has no version resource" % (arch, name))
                    continue
                file_version, product_version, strings = parse_version_info(blob)
            except (ValueError, struct.error, UnicodeDecodeError) as error:
                problems.append("%s/%s: unreadable version resource (%s)" % (arch, name, error))
                continue
            for what, got in (("file version", file_version), ("product version", product_version)):
                if got != want:
                    problems.append("%s/%s has %s %s, not %s" % (arch, name, what, got, want))
            for key, value in (("FileVersion", args.version), ("ProductVersion", args.version),
                               ("OriginalFilename", name), ("ProductName", "Kavex")):
                if strings.get(key) != value:
                    problems.append("%s/%s: %s is %r, not %r" % (arch, name, key, strings.get(key), value))
        report("VersionResource", problems)

        problems = []
        for arch, (_, objdump) in ARCHES.items():
            folder = os.path.join(root, arch)
            if not os.path.exists(os.path.join(folder, "Kavex.dll")):
                problems.append("no %s/Kavex.dll" % arch)
                continue
            build = args.build_x86 if arch == "x86" else args.build_x64
            run = subprocess.run([sys.executable, check_exports.__file__, "--objdump", objdump, "--header", header,
                                  "--unstripped", os.path.join(build, "Kavex.dll"),
                                  "--def", def_source, os.path.join(folder, "Kavex.dll"),
                                  os.path.join(folder, "libkavex.dll.a")], capture_output=True, text=True)
            print("   %s" % run.stdout.strip().replace(folder, arch))
            if run.returncode != 0:
                problems.append("%s: %s" % (arch, run.stdout.strip() or run.stderr.strip()))
        report("Exports", problems)

        problems = []
        source_text = open(def_source, encoding="utf-8").read()
        source_exports = re.findall(r"^\s+(\w+)@\d+\s+@(\d+)\s*$", source_text, re.M)
        shipped = {}
        for arch in ARCHES:
            path = os.path.join(root, arch, "Kavex.def")
            shipped[arch] = open(path, encoding="utf-8").read() if os.path.exists(path) else ""
        if shipped["x86"] != source_text:
            problems.append("x86/Kavex.def is not src/reader/kavex.def")
        x64_exports = re.findall(r"^\s+(\w+)\s+@(\d+)\s*$", shipped["x64"], re.M)
        if x64_exports != source_exports or "@" in "".join(re.findall(r"^\s+\S+", shipped["x64"], re.M)):
            problems.append("x64/Kavex.def lists %s, expected %s" % (x64_exports, source_exports))
        report("DefFiles", problems)

        problems = []
        sizes = check_exports.header_argument_bytes(header)
        for arch in ARCHES:
            path = os.path.join(root, arch, "Kavex.lib")
            if not os.path.exists(path):
                problems.append("no %s/Kavex.lib" % arch)
                continue
            try:
                imports = short_imports(path)
            except ValueError as error:
                problems.append("%s/Kavex.lib: %s" % (arch, error))
                continue
            machine = ARCHES[arch][0]
            if arch == "x86":
                expected_imports = {("_%s@%d" % (name, sizes.get(name, -1)), 3) for name in EXPORTS}
            else:
                expected_imports = {(name, 1) for name in EXPORTS}
            got = {(symbol, name_type) for m, symbol, name_type, dll in imports}
            if got != expected_imports:
                problems.append("%s/Kavex.lib imports %s (symbol, name type), expected %s"
                                % (arch, sorted(got), sorted(expected_imports)))
            others = {(hex(m), dll) for m, _, _, dll in imports if m != machine or dll != "Kavex.dll"}
            if others:
                problems.append("%s/Kavex.lib has members %s" % (arch, sorted(others)))
        report("MsvcImportLibrary", problems)

        problems = []
        for name, needed in (("LICENSE", ["MIT License", "Copyright (c) 2026 Kavex"]),
                             ("README.txt", ["Kavex %s for Windows" % args.version, "What a host needs"])):
            path = os.path.join(root, name)
            if not os.path.exists(path):
                problems.append("no %s" % name)
                continue
            data = open(path, "rb").read()
            for text in needed:
                if text.encode("ascii") not in data:
                    problems.append("%s lacks %r" % (name, text))
            if data.count(b"\n") != data.count(b"\r\n"):
                problems.append("%s has lines without CR LF" % name)
        shipped_header = os.path.join(root, "include", "kavex.h")
        if not os.path.exists(shipped_header):
            problems.append("no include/kavex.h")
        elif open(shipped_header, "rb").read() != open(header, "rb").read():
            problems.append("include/kavex.h differs from the source's")
        report("TextFiles", problems)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
