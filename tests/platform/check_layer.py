#!/usr/bin/env python3
"""Keeps the POSIX layer the size of what uses it.

    check_layer.py SOURCE_ROOT

1. Every Win32 function that src/platform/posix/win32_*.h declares must be
   called somewhere outside src/platform/ (module code, tools or tests), or
   looked up there by its name (GetProcAddress):
   the layer implements what is used, and what stops being used is removed
   rather than kept. The layer's functions are listed with their users.
2. Every constant those headers define must be used somewhere outside
   them (the layer's own code counts): a Win32 constant nothing uses is
   removed rather than kept.
3. Every error code those headers define must have a message text in
   src/platform/posix/system.cpp, so that FormatMessageA describes every
   failure the layer reports.

Exits 1, naming what is wrong, when either does not hold.
"""
import pathlib
import re
import sys

DECLARATION = re.compile(r"^[A-Za-z_][\w\s\*]*?\b([A-Za-z][A-Za-z0-9]+)\s*\(", re.MULTILINE)
NOT_FUNCTIONS = {"static_assert", "sizeof", "alignas", "decltype"}
ERROR_DEFINE = re.compile(r"^#define\s+(ERROR_[A-Z0-9_]+)\s", re.MULTILINE)
CONSTANT_DEFINE = re.compile(r"^#define\s+([A-Z][A-Z0-9_]+)\s", re.MULTILINE)


def strip_comments(text):
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.DOTALL)
    return re.sub(r"//[^\n]*", " ", text)


def main(argv):
    if len(argv) != 2:
        sys.exit(__doc__)
    root = pathlib.Path(argv[1])
    layer = root / "src" / "platform" / "posix"
    headers = sorted(layer.glob("win32_*.h"))
    functions = set()
    errors = set()
    constants = set()
    for header in headers:
        text = strip_comments(header.read_text())
        for match in DECLARATION.finditer(text):
            line = text[match.start():text.find("\n", match.start())]
            if line.lstrip().startswith(("#", "using", "struct", "return", "typedef")):
                continue
            if match.group(1) not in NOT_FUNCTIONS:
                functions.add(match.group(1))
        errors.update(ERROR_DEFINE.findall(text))
        constants.update(CONSTANT_DEFINE.findall(text))

    users = {name: [] for name in functions}
    outside = [p for d in ("src", "tools", "tests", "bench", "examples") for p in (root / d).rglob("*")
               if p.suffix in (".c", ".cpp", ".h") and p.relative_to(root).parts[:2] != ("src", "platform")]
    for path in outside:
        text = strip_comments(path.read_text(errors="replace"))
        for name in functions:
            # A call, or a run-time lookup of the entry point by its name.
            if re.search(r"\b" + name + r"\s*\(", text) or ('"' + name + '"') in text:
                users[name].append(str(path.relative_to(root)))

    failed = False
    print(f"The POSIX layer defines {len(functions)} Win32 functions:")
    for name in sorted(functions):
        places = users[name]
        print(f"  {name:28} {len(places)} file(s)" + (f", e.g. {places[0]}" if places else ""))
    unused = sorted(name for name, places in users.items() if not places)
    if unused:
        failed = True
        print("Called by nothing outside src/platform/ (remove them, or use them):")
        for name in unused:
            print(f"  {name}")

    headers_set = set(headers)
    elsewhere = [p for d in ("src", "tools", "tests", "bench", "examples") for p in (root / d).rglob("*")
                 if p.suffix in (".c", ".cpp", ".h") and p not in headers_set]
    text_elsewhere = "\n".join(strip_comments(p.read_text(errors="replace")) for p in elsewhere)
    unused_constants = sorted(c for c in constants if not re.search(r"\b" + c + r"\b", text_elsewhere))
    print(f"{len(constants)} constants defined, {len(constants) - len(unused_constants)} of them used")
    if unused_constants:
        failed = True
        print("Constants that nothing uses (remove them, or use them):")
        for name in unused_constants:
            print(f"  {name}")

    texts = (layer / "system.cpp").read_text()
    missing = sorted(code for code in errors if not re.search(r"\{" + code + r"\s*,", texts))
    print(f"{len(errors)} error codes defined, {len(errors) - len(missing)} with a message text")
    if missing:
        failed = True
        print("Error codes without a message text in system.cpp:")
        for code in missing:
            print(f"  {code}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
