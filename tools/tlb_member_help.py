#!/usr/bin/env python3
"""Gives the members of enumerations in a type library their own names as help strings.

    tlb_member_help.py <in.tlb> <out.tlb> <Enum> [<Enum> ...]

widl refuses help strings on enumeration members, so the build compiles the library without
them and this step adds them to widl's output, changing nothing else: every other byte of the
file keeps its meaning. The file is an MSFT type library:

    header (0x54 bytes) [help DLL offset] typeinfo offsets[n] segment directory (15 x 16 bytes)
    segments: typeinfo table, ..., name table, string table, ...    (absolute offsets)
    member blocks, one per typeinfo that has members                 (absolute offsets)

A member block is  INT size, the records, then memids[k], name offsets[k], record offsets[k]
(k = functions + variables). A variable record is  Info (size | index << 16), DataType, Flags,
VarKind | descsize << 16, Value  and optionally  HelpContext, HelpString, ... A string-table
entry is an INT16 length, the characters and padding with 'W' to a multiple of four.

Only three kinds of field hold absolute file offsets: the segment directory, and each
typeinfo's member block offset. Everything else is relative to its segment, so growing the
string table and the enumerations' member blocks only needs those moved.
"""
import struct
import sys

MSFT_MAGIC = 0x5446534D
HEADER_INTS = 21
HELPDLL_FLAG = 0x100
SEGMENTS = 15
SEG_TYPEINFO, SEG_NAMES, SEG_STRINGS = 0, 7, 8
TYPEINFO_SIZE = 100
TKIND_ENUM = 0
VAR_BASE_SIZE = 20
VAR_WITH_HELP_SIZE = 28


class TlbError(Exception):
    pass


def ints(data, offset, count):
    end = offset + 4 * count
    if offset < 0 or end > len(data):
        raise TlbError(f"truncated at offset {offset}")
    return list(struct.unpack_from(f"<{count}i", data, offset))


class Library:
    def __init__(self, data):
        self.data = data
        header = ints(data, 0, HEADER_INTS)
        if header[0] != MSFT_MAGIC:
            raise TlbError("not an MSFT type library")
        self.count = header[8]
        pos = 4 * HEADER_INTS + (4 if header[5] & HELPDLL_FLAG else 0)
        pos += 4 * self.count
        self.segdir_at = pos
        self.segments = [ints(data, pos + 16 * i, 4) for i in range(SEGMENTS)]
        self.typeinfo_at = self.segments[SEG_TYPEINFO][0]

    def typeinfo(self, index):
        return ints(self.data, self.typeinfo_at + TYPEINFO_SIZE * index, 25)

    def name(self, offset):
        at = self.segments[SEG_NAMES][0] + offset
        length = ints(self.data, at, 3)[2] & 0xFF
        return self.data[at + 12:at + 12 + length].decode("latin-1")

    def strings(self):
        offset, length = self.segments[SEG_STRINGS][:2]
        return self.data[offset:offset + length] if offset >= 0 else b""


class StringTable:
    """Appends strings to the string segment, reusing an equal entry where one exists."""

    def __init__(self, existing):
        self.blob = bytearray(existing)
        self.index = {}
        pos = 0
        while pos + 2 <= len(existing):
            n = struct.unpack_from("<H", existing, pos)[0]
            self.index.setdefault(bytes(existing[pos + 2:pos + 2 + n]), pos)
            pos += (2 + n + 3) & ~3

    def add(self, text):
        raw = text.encode("latin-1")
        if raw in self.index:
            return self.index[raw]
        offset = len(self.blob)
        entry = struct.pack("<H", len(raw)) + raw
        entry += b"W" * (-len(entry) % 4)
        self.blob += entry
        self.index[raw] = offset
        return offset


def rebuild_var_block(lib, base, strings):
    """The member block of an enumeration, each variable record carrying its name as help."""
    start = base[1]
    funcs, nvars = base[6] & 0xFFFF, (base[6] >> 16) & 0xFFFF
    if funcs:
        raise TlbError("an enumeration with functions")
    size = ints(lib.data, start, 1)[0]
    records_at = start + 4
    k = funcs + nvars
    memids = ints(lib.data, records_at + size, k)
    names = ints(lib.data, records_at + size + 4 * k, k)
    offsets = ints(lib.data, records_at + size + 8 * k, k)
    records = bytearray()
    new_offsets = []
    for i in range(nvars):
        info, dtype, flags, kind, value = ints(lib.data, records_at + offsets[i], 5)
        if info & 0xFF != VAR_BASE_SIZE:
            raise TlbError("an enumeration member that already has optional fields")
        help_offset = strings.add(lib.name(names[i]))
        new_offsets.append(len(records))
        records += struct.pack("<7i", (info & ~0xFF) | VAR_WITH_HELP_SIZE, dtype, flags, kind,
                               value, 0, help_offset)
    block = struct.pack("<i", len(records)) + records
    block += struct.pack(f"<{3 * k}i", *memids, *names, *new_offsets)
    return start, records_at + size + 12 * k, bytes(block)


def relocate(edits, offset):
    """Where an offset of the old file lands once the edits are applied."""
    shift = 0
    for old_start, old_end, new in edits:
        if old_end <= offset:
            shift += len(new) - (old_end - old_start)
    return offset + shift


def patch(data, enum_names):
    lib = Library(data)
    strings = StringTable(lib.strings())
    edits = []
    wanted = set(enum_names)
    for i in range(lib.count):
        base = lib.typeinfo(i)
        name = lib.name(base[13])
        if name in wanted:
            if base[0] & 0xF != TKIND_ENUM:
                raise TlbError(f"{name} is not an enumeration")
            edits.append(rebuild_var_block(lib, base, strings))
            wanted.discard(name)
    if wanted:
        raise TlbError("no enumeration named " + ", ".join(sorted(wanted)))

    str_off, str_len = lib.segments[SEG_STRINGS][:2]
    if str_off < 0:
        raise TlbError("the library has no string table")
    added = bytes(strings.blob[str_len:])
    edits.append((str_off + str_len, str_off + str_len, added))
    edits.sort(key=lambda e: e[0])

    out = bytearray()
    pos = 0
    for old_start, old_end, new in edits:
        out += data[pos:old_start] + new
        pos = old_end
    out += data[pos:]

    for s in range(SEGMENTS):
        at = lib.segdir_at + 16 * s
        offset, length = lib.segments[s][:2]
        if s == SEG_STRINGS:
            length += len(added)
        if offset >= 0:
            offset = relocate(edits, offset)
        struct.pack_into("<2i", out, relocate(edits, at), offset, length)
    for i in range(lib.count):
        at = relocate(edits, lib.typeinfo_at + TYPEINFO_SIZE * i + 4)
        struct.pack_into("<i", out, at, relocate(edits, lib.typeinfo(i)[1]))
    return bytes(out)


def main(argv):
    if len(argv) < 4:
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    with open(argv[1], "rb") as f:
        data = f.read()
    try:
        result = patch(data, argv[3:])
    except TlbError as e:
        print(f"tlb_member_help: {argv[1]}: {e}", file=sys.stderr)
        return 1
    with open(argv[2], "wb") as f:
        f.write(result)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
