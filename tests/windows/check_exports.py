#!/usr/bin/env python3
"""Checks the interface of a built Kavex.dll against include/kavex.h.

  check_exports.py [--objdump TOOL] [--unstripped DLL] --header kavex.h --def kavex.def
                   Kavex.dll libkavex.dll.a

The export table (read here with a small PE reader) must hold exactly the
eight functions, by undecorated name, with their fixed ordinals and no
forwarders; the DLL may import system DLLs only (the C and C++ runtimes are
linked in). For a 32-bit DLL the stdcall argument sizes are checked three
ways against the parameter lists in the header: the @N of the .def, the
decorated symbols of the import library (_Name@N) and the code itself: every
return of an exported function pops N bytes (ret $N; a plain ret for N = 0).
A stripped DLL has no symbols to find the code by: --unstripped names the
same DLL before stripping, whose sections must hold the same bytes and whose
symbols are used instead. Exits 1 with one line per problem.
"""
import argparse
import re
import struct
import subprocess
import sys

EXPECTED = {"OpenCom": 1, "GetCardCode": 2, "CloseCom": 3, "GetIDVersion": 4,
            "GetCardCodeEx": 5, "CloseComEx": 6, "OpenComEx": 7, "GetOtherCardCode": 8}
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll", "msvcrt.dll", "ntdll.dll",
               "shell32.dll", "ole32.dll", "oleaut32.dll", "ws2_32.dll", "version.dll"}

problems = []


def problem(text):
    problems.append(text)


class PeImage:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE image")
        machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        self.is64 = magic == 0x20B
        self.machine = machine
        self.image_base = struct.unpack_from("<Q" if self.is64 else "<I", data, optional + (24 if self.is64 else 28))[0]
        directories = optional + (112 if self.is64 else 96)
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(16)]
        self.sections = []
        self.contents = {}  # the bytes of each section by its address
        table = optional + optional_size
        for i in range(sections):
            _, vsize, vaddr, raw_size, raw_pointer = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((vaddr, max(vsize, raw_size), raw_pointer))
            self.contents[vaddr] = data[raw_pointer:raw_pointer + min(vsize, raw_size)]

    def offset(self, rva):
        for vaddr, size, raw in self.sections:
            if vaddr <= rva < vaddr + size:
                return raw + rva - vaddr
        raise ValueError("RVA 0x%x is in no section" % rva)

    def u32(self, rva):
        return struct.unpack_from("<I", self.data, self.offset(rva))[0]

    def u16(self, rva):
        return struct.unpack_from("<H", self.data, self.offset(rva))[0]

    def string(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def exports(self):
        """(module name, ordinal base, {name: (ordinal, rva)}, function count)."""
        rva, size = self.directories[0]
        if rva == 0:
            return None, 0, {}, 0
        (_, _, _, _, name, base, functions, names, address_table, name_table,
         ordinal_table) = struct.unpack_from("<IIHHIIIIIII", self.data, self.offset(rva))
        table = {}
        for i in range(names):
            ordinal_index = self.u16(ordinal_table + 2 * i)
            function_rva = self.u32(address_table + 4 * ordinal_index)
            if rva <= function_rva < rva + size:
                problem("export %s is a forwarder" % self.string(self.u32(name_table + 4 * i)))
            table[self.string(self.u32(name_table + 4 * i))] = (base + ordinal_index, function_rva)
        return self.string(name), base, table, functions

    def imported_dlls(self):
        rva, _ = self.directories[1]
        dlls = []
        while rva:
            descriptor = struct.unpack_from("<IIIII", self.data, self.offset(rva))
            if descriptor == (0, 0, 0, 0, 0):
                break
            dlls.append(self.string(descriptor[3]))
            rva += 20
        return dlls


def header_argument_bytes(header_path):
    """Bytes of arguments of each exported function, 4 per parameter on 32-bit."""
    text = open(header_path, encoding="utf-8").read()
    sizes = {}
    for name, parameters in re.findall(r"KAVEX_API\s+int\s+KAVEX_CALL\s+(\w+)\s*\(([^)]*)\)", text):
        parameters = parameters.strip()
        sizes[name] = 0 if parameters in ("", "void") else 4 * len(parameters.split(","))
    return sizes


def def_argument_bytes(def_path):
    sizes = {}
    for line in open(def_path, encoding="utf-8"):
        match = re.match(r"\s*(\w+)@(\d+)\s+@(\d+)", line)
        if match:
            sizes[match.group(1)] = (int(match.group(2)), int(match.group(3)))
    return sizes


def archive_symbols(path):
    """The symbol names in the index of an ar archive (GNU or COFF first linker member)."""
    data = open(path, "rb").read()
    if not data.startswith(b"!<arch>\n"):
        raise ValueError("%s is not an archive" % path)
    header = data[8:68]
    if header[:16].strip() != b"/":
        raise ValueError("%s has no symbol index" % path)
    size = int(header[48:58])
    member = data[68:68 + size]
    count = struct.unpack_from(">I", member, 0)[0]
    names = member[4 + 4 * count:].split(b"\0")[:count]
    return {name.decode("ascii") for name in names}


def returns_of(objdump, dll_path, image_base, rvas):
    """For each exported RVA, the operands of the ret instructions that end it.

    A body that ends in a tail call (an unconditional jmp to the start of
    another function, as an optimizer makes of "return f();") returns
    through that function, whose returns are followed instead.
    """
    listing = subprocess.run([objdump, "-d", "--no-show-raw-insn", dll_path], check=True,
                             capture_output=True, text=True).stdout
    label = re.compile(r"^([0-9a-f]+) <(.+)>:$")
    instruction = re.compile(r"^\s*[0-9a-f]+:\s+(\S+)\s*(.*)$")
    tail_call = re.compile(r"^([0-9a-f]+) <[^+>]+>$")
    bodies, current = {}, None
    for line in listing.splitlines():
        match = label.match(line)
        if match:
            current = int(match.group(1), 16)
            bodies[current] = []
            continue
        match = instruction.match(line)
        if current is not None and match:
            bodies[current].append((match.group(1), match.group(2).strip()))

    def returns(address, seen):
        found = []
        for mnemonic, operand in bodies.get(address, []):
            if mnemonic.startswith("ret"):
                found.append(operand)
            elif mnemonic == "jmp" and tail_call.match(operand):
                target = int(tail_call.match(operand).group(1), 16)
                if target in bodies and target not in seen:
                    found += returns(target, seen | {target})
        return found

    return {rva: returns(image_base + rva, {image_base + rva}) for rva in rvas}


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--objdump", default="i686-w64-mingw32-objdump")
    parser.add_argument("--header", required=True)
    parser.add_argument("--def", dest="def_file", required=True)
    parser.add_argument("--unstripped")
    parser.add_argument("dll")
    parser.add_argument("import_library")
    args = parser.parse_args()

    image = PeImage(open(args.dll, "rb").read())
    code_image, code_path = image, args.dll
    if args.unstripped:
        code_image, code_path = PeImage(open(args.unstripped, "rb").read()), args.unstripped
        # Stripping drops the symbols and debug sections and nothing else.
        for address, content in image.contents.items():
            if code_image.contents.get(address) != content:
                problem("the section at RVA 0x%x differs from %s's" % (address, args.unstripped))
    module, base, exports, functions = image.exports()
    bits = 64 if image.is64 else 32
    if module is None or module.lower() != "kavex.dll":
        problem("the export table names module %r, not Kavex.dll" % module)
    if functions != len(EXPECTED) or base != 1:
        problem("%d exported functions from ordinal %d; expected 8 from ordinal 1" % (functions, base))
    for name, ordinal in EXPECTED.items():
        if name not in exports:
            problem("%s is not exported by name" % name)
        elif exports[name][0] != ordinal:
            problem("%s has ordinal %d, expected %d" % (name, exports[name][0], ordinal))
    for name in sorted(set(exports) - set(EXPECTED)):
        problem("unexpected export %s" % name)

    for dll in image.imported_dlls():
        if dll.lower() not in SYSTEM_DLLS and not dll.lower().startswith("api-ms-win-"):
            problem("imports %s, which is not a system DLL" % dll)

    header_sizes = header_argument_bytes(args.header)
    if set(header_sizes) != set(EXPECTED):
        problem("include/kavex.h declares %s" % sorted(header_sizes))
    def_entries = def_argument_bytes(args.def_file)
    for name, ordinal in EXPECTED.items():
        if def_entries.get(name, (None, None))[1] != ordinal:
            problem("the .def gives %s no ordinal %d" % (name, ordinal))

    symbols = archive_symbols(args.import_library)
    if bits == 32:
        bodies = returns_of(args.objdump, code_path, code_image.image_base, [rva for _, rva in exports.values()])
        for name, size in header_sizes.items():
            if def_entries.get(name, (None,))[0] != size:
                problem("the .def declares %s with %s bytes of arguments, the header %d"
                        % (name, def_entries.get(name, (None,))[0], size))
            for symbol in ("_%s@%d" % (name, size), "__imp__%s@%d" % (name, size)):
                if symbol not in symbols:
                    problem("the import library lacks %s" % symbol)
            if name not in exports:
                continue
            returns = bodies.get(exports[name][1], [])
            expected = "$0x%x" % size if size else ""
            if not returns:
                problem("no return found in the code of %s" % name)
            for operand in returns:
                if operand != expected:
                    problem("%s returns with 'ret %s', expected 'ret %s' (the callee pops %d bytes)"
                            % (name, operand, expected, size))
    else:
        for name in EXPECTED:
            if "__imp_%s" % name not in symbols:
                problem("the import library lacks __imp_%s" % name)

    if problems:
        for text in problems:
            print("FAILED: %s" % text)
        return 1
    print("%s: %d-bit, exports %s, imports %s only%s" % (
        args.dll, bits, ", ".join("%s %d" % (n, o) for n, o in EXPECTED.items()),
        ", ".join(image.imported_dlls()),
        "; stdcall argument sizes agree in header, .def, import library and code" if bits == 32 else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main())
