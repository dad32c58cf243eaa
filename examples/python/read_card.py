#!/usr/bin/env python3
"""Reads card codes through Kavex.dll with ctypes.

    python read_card.py [COMn] [--count N]

Opens the primary reader on COMn (or, without one, on the port of the
ipportconfig.ini beside python.exe: the library looks beside the running
executable, which is the interpreter) and the configured further readers,
prints each code as it arrives and closes them again after N codes or on
Ctrl-C.

Python loads the Kavex.dll of its own word size: x86\\Kavex.dll for a 32-bit
Python, x64\\Kavex.dll for a 64-bit one (python -c "import struct;
print(struct.calcsize('P') * 8)" tells). On 32-bit the functions are stdcall,
so the DLL is loaded with ctypes.WinDLL; ctypes.CDLL would leave the
arguments on the stack and corrupt it. On 64-bit WinDLL and CDLL are the same.
"""
import argparse
import ctypes
import os
import struct
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def load_kavex(path=None):
    """Kavex.dll of this Python's word size, with the eight functions typed."""
    if sys.platform != "win32":
        sys.exit("Kavex.dll is a Windows library")
    if path is None:
        folder = "x64" if struct.calcsize("P") == 8 else "x86"
        # The release's folders, two levels up from examples\python.
        path = os.path.join(HERE, "..", "..", folder, "Kavex.dll")
    kavex = ctypes.WinDLL(os.path.abspath(path))
    c_int, c_char_p = ctypes.c_int, ctypes.c_char_p
    signatures = {
        "OpenCom": [c_char_p],
        "GetCardCode": [c_char_p],
        "CloseCom": [],
        "GetIDVersion": [],
        "GetCardCodeEx": [c_char_p, c_int],
        "CloseComEx": [],
        "OpenComEx": [c_char_p, c_int],
        "GetOtherCardCode": [c_char_p, c_int],
    }
    for name, arguments in signatures.items():
        function = getattr(kavex, name)
        function.argtypes = arguments
        function.restype = c_int
    return kavex


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("port", nargs="?", help="COM1 to COM9; default: the configured port")
    parser.add_argument("--count", type=int, default=0, help="stop after this many codes")
    parser.add_argument("--dll", help="the Kavex.dll to load")
    args = parser.parse_args()

    kavex = load_kavex(args.dll)
    print("Kavex interface version", kavex.GetIDVersion())
    port = args.port.encode("ascii") if args.port else None  # None: the configured port
    if kavex.OpenCom(port) != 1:
        kavex.CloseCom()
        sys.exit("cannot open the card reader")
    print("Waiting for cards; Ctrl-C ends.")
    read = 0
    try:
        while args.count == 0 or read < args.count:
            # Zeroed 11-byte buffers: byte 10 is not always written.
            code = ctypes.create_string_buffer(11)
            if kavex.GetCardCode(code) == 1:
                print("primary reader:", code.value.decode("ascii"))
                read += 1
            for reader in range(1, 5):
                code = ctypes.create_string_buffer(11)
                if kavex.GetOtherCardCode(code, reader) == 1:
                    print("reader %d: %s" % (reader, code.value.decode("ascii")))
                    read += 1
            time.sleep(0.1)
    except KeyboardInterrupt:
        pass
    finally:
        kavex.CloseCom()


if __name__ == "__main__":
    main()
