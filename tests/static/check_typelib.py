#!/usr/bin/env python3
"""Checks of the type library file itself, below what oleaut32 shows a loading process.

    check_typelib.py <finished.tlb> <widl.tlb>

- The vtable offsets stored for IZanQuilmoAx4 are those of the file's own system kind
  (4-byte pointers for win32, 8-byte for win64): entries 7, 8, ... in declaration order.
- The value parameter of every property put and put-by-reference has no name.
- The finished file is widl's file plus the enumeration members' help strings: every
  segment but the string table is unchanged, the string table only grows at its end, and
  the type entries differ in nothing but the position of their member blocks.
"""
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools"))
import tlb_member_help as msft  # noqa: E402

INVOKE_PUT, INVOKE_PUTREF = 4, 8


def func_records(lib, index):
    base = lib.typeinfo(index)
    start, nfuncs = base[1], base[6] & 0xFFFF
    size = msft.ints(lib.data, start, 1)[0]
    offsets = msft.ints(lib.data, start + 4 + size + 8 * (nfuncs + (base[6] >> 16)), nfuncs)
    for off in offsets:
        at = start + 4 + off
        length = msft.ints(lib.data, at, 1)[0] & 0xFFFF
        yield msft.ints(lib.data, at, length // 4)


def find_type(lib, name):
    for i in range(lib.count):
        if lib.name(lib.typeinfo(i)[13]) == name:
            return i
    raise msft.TlbError(f"no type {name}")


def main(argv):
    with open(argv[1], "rb") as f:
        fin = msft.Library(f.read())
    with open(argv[2], "rb") as f:
        raw = msft.Library(f.read())
    failures = []
    syskind = msft.ints(fin.data, 0, 21)[5] & 0xF
    ptr = 4 if syskind == 1 else 8
    for i, rec in enumerate(func_records(fin, find_type(fin, "IZanQuilmoAx4"))):
        vtable = rec[3] & 0xFFFF
        if vtable != (7 + i) * ptr:
            failures.append(f"member {i + 1}: vtable offset {vtable}, expected {(7 + i) * ptr}")
        invkind = (rec[4] >> 3) & 0xF
        nargs = rec[5] & 0xFFFF
        last_name = rec[len(rec) - 3 + 1]
        if invkind in (INVOKE_PUT, INVOKE_PUTREF) and nargs and last_name != -1:
            failures.append(f"member {i + 1}: the put parameter has a name")

    for s in range(msft.SEGMENTS):
        if s == msft.SEG_TYPEINFO:
            continue  # compared entry by entry below
        a = fin.data[fin.segments[s][0]:fin.segments[s][0] + fin.segments[s][1]]
        b = raw.data[raw.segments[s][0]:raw.segments[s][0] + raw.segments[s][1]]
        if s == msft.SEG_STRINGS:
            if not a.startswith(b) or len(a) <= len(b):
                failures.append("the string table does not only grow at its end")
        elif a != b:
            failures.append(f"segment {s} differs from widl's")
    if fin.count != raw.count:
        failures.append("the number of types differs")
    for i in range(min(fin.count, raw.count)):
        a, b = fin.typeinfo(i), raw.typeinfo(i)
        a[1] = b[1] = 0
        if a != b:
            failures.append(f"type entry {i} differs beyond its member block position")

    for f in failures:
        print(f"{argv[1]}: {f}")
    if not failures:
        print(f"{argv[1]}: syskind {syskind}, vtable offsets of {ptr}-byte pointers, "
              f"put parameters unnamed, widl's library plus member help strings")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
