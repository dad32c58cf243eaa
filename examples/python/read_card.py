#!/usr/bin/env python3
"""Reads card codes through Kavex from Python, with ctypes.

    read_card.py [PORT] [--count N]

With PORT (COM1 to COM9) the primary reader is on PORT; without it, on the
port of the configuration file. The further readers always come from that
file. Prints each code as it arrives ("card 0123456789", "reader 2: card
..."), and ends after N codes or after about a minute.

The library reads "ipportconfig.ini" from the directory of the running
executable, and under Python that is the interpreter, not this script: on
Linux, create a virtual environment with copies of the interpreter
(python3 -m venv --copies DIR) and put the file into DIR/bin beside them.

The library is libkavex.so.1 on Linux, found as any library is (the system's
library directories, LD_LIBRARY_PATH), and Kavex.dll on Windows, taken from
the release's x86\ or x64\ folder beside this script when it is there (the
one of Python's own word size: python -c "import struct;
print(struct.calcsize('P') * 8)" tells), else from the DLL search path;
KAVEX_LIBRARY names another file. On 32-bit Windows the functions are
stdcall, so the DLL is loaded with ctypes.WinDLL: ctypes.CDLL would leave the
arguments on the stack and corrupt it.
"""
import argparse
import ctypes
import os
import sys
import time

CODE_BUFFER = 11  # ten digits and a terminator


def load_kavex():
    """The library, with the prototypes of the functions used here."""
    if sys.platform == "win32":
        folder = "x86" if ctypes.sizeof(ctypes.c_void_p) == 4 else "x64"
        beside = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", folder, "Kavex.dll")
        name = os.environ.get("KAVEX_LIBRARY") or (beside if os.path.exists(beside) else "Kavex.dll")
        # 32-bit Kavex.dll uses the stdcall convention: WinDLL. 64-bit Windows
        # has one convention, which CDLL uses.
        loader = ctypes.WinDLL if ctypes.sizeof(ctypes.c_void_p) == 4 else ctypes.CDLL
    else:
        name = os.environ.get("KAVEX_LIBRARY") or "libkavex.so.1"
        loader = ctypes.CDLL
    kavex = loader(name)
    prototypes = {
        "OpenCom": [ctypes.c_char_p],
        "GetCardCode": [ctypes.c_char_p],
        "GetOtherCardCode": [ctypes.c_char_p, ctypes.c_int],
        "CloseCom": [],
    }
    for function, arguments in prototypes.items():
        getattr(kavex, function).argtypes = arguments
        getattr(kavex, function).restype = ctypes.c_int
    return kavex


def main():
    parser = argparse.ArgumentParser(description="Read card codes through Kavex.")
    parser.add_argument("port", nargs="?", help="the primary reader's port, COM1 to COM9")
    parser.add_argument("--count", type=int, default=0, help="stop after this many codes")
    options = parser.parse_args()

    try:
        kavex = load_kavex()
    except OSError as error:
        sys.exit(f"cannot load the Kavex library: {error}")
    port = options.port.encode("ascii") if options.port else None  # None: the configured port
    if not kavex.OpenCom(port):
        sys.exit(f"cannot open the card reader on {options.port or 'the configured port'}")
    print("polling the card readers", flush=True)
    codes = 0
    try:
        for _ in range(600):  # about a minute
            if options.count and codes >= options.count:
                break
            code = ctypes.create_string_buffer(CODE_BUFFER)
            if kavex.GetCardCode(code):
                print(f"card {code.value.decode('ascii')}", flush=True)
                codes += 1
            for reader in range(1, 5):
                code = ctypes.create_string_buffer(CODE_BUFFER)
                if kavex.GetOtherCardCode(code, reader):
                    print(f"reader {reader}: card {code.value.decode('ascii')}", flush=True)
                    codes += 1
            time.sleep(0.1)
    except KeyboardInterrupt:
        pass
    finally:
        kavex.CloseCom()
    return 0 if codes >= options.count else 1


if __name__ == "__main__":
    sys.exit(main())
