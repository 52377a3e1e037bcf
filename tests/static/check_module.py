#!/usr/bin/env python3
"""Static checks of a built module, for the 32-bit modules that cannot run on this machine
(and for their 64-bit twins), through binutils' objdump.

    check_module.py --objdump OBJDUMP --module FILE --machine i386|x86-64 [--program]
                    [--exports NAME,NAME,...] [--typelib FILE] [--resource TYPE/NAME ...]
                    [--version X.Y]

Checks that the module is a PE DLL for the machine; that it exports exactly the given names,
undecorated; that it imports nothing but system DLLs (no MinGW runtime DLLs); and, with
--typelib, that its resource "TYPELIB" 1 holds exactly that file's bytes; with --resource,
that the module holds a resource of that type and name (types by name, or BITMAP, ICON,
CURSOR, STRING, VERSION; names by name or number). Every module must ship stripped: no
symbols, no debugging sections, and a .gnu_debuglink naming its debugging file. With
--version, its version resource must carry that FileVersion and ProductVersion. --program
checks a program (EXE) instead of a DLL.
"""
import argparse
import re
import subprocess
import sys

SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "ole32.dll", "oleaut32.dll", "advapi32.dll",
    "comdlg32.dll", "comctl32.dll", "shell32.dll", "shlwapi.dll", "msvcrt.dll", "uuid.dll",
    "psapi.dll", "version.dll", "imm32.dll", "uxtheme.dll", "msimg32.dll",
}


def objdump(tool, *args):
    return subprocess.run([tool, *args], check=True, capture_output=True, text=True).stdout


def exports(private):
    names = []
    m = re.search(r"\[Ordinal/Name Pointer\] Table\n(.*?)\n\n", private, re.S)
    if m:
        for line in m.group(1).splitlines():
            parts = line.split("]", 1)
            if len(parts) == 2 and parts[1].strip():
                names.append(parts[1].strip())
    return names


def imports(private):
    return [m.group(1) for m in re.finditer(r"DLL Name: (\S+)", private)]


def resource_leaf(private, type_name, res_id):
    """RVA and size of the first language entry of a named resource type and numeric id."""
    lines = private.splitlines()
    for i, line in enumerate(lines):
        if re.search(r"Entry: name: .*: %s," % re.escape(type_name), line):
            for later in lines[i + 1:i + 8]:
                if "Entry: ID: 0x%06x" % res_id in later or "Entry: ID: 0x%x" % res_id in later:
                    break
            else:
                return None
            for later in lines[i + 1:i + 10]:
                m = re.search(r"Leaf: Addr: 0x([0-9a-f]+), Size: 0x([0-9a-f]+)", later)
                if m:
                    return int(m.group(1), 16), int(m.group(2), 16)
    return None


STANDARD_TYPES = {"CURSOR": 12, "BITMAP": 2, "ICON": 14, "STRING": 6, "VERSION": 16}


def resource_names(private):
    """{type: set of names}, types and names as text ("TYPELIB", "2", "PEN_C", "1")."""
    tree = {}
    current = None
    for line in private.splitlines():
        m = re.match(r"^[0-9a-f]+( +)Entry: (?:name: .*: ([^,]+)|ID: 0x([0-9a-f]+)),", line)
        if not m:
            continue
        depth = len(m.group(1))
        key = m.group(2) if m.group(2) else str(int(m.group(3), 16))
        if depth == 3:
            current = key
            tree.setdefault(current, set())
        elif depth == 5 and current is not None:
            tree[current].add(key)
    return tree


def file_offset(headers, private, rva):
    base = int(re.search(r"ImageBase\s+([0-9a-fA-F]+)", private).group(1), 16)
    for m in re.finditer(r"^\s*\d+\s+(\S+)\s+([0-9a-f]+)\s+([0-9a-f]+)\s+[0-9a-f]+\s+([0-9a-f]+)",
                         headers, re.M):
        size, vma, off = int(m.group(2), 16), int(m.group(3), 16) - base, int(m.group(4), 16)
        if vma <= rva < vma + size:
            return rva - vma + off
    return None


def stripped_failures(a):
    failures = []
    sections = re.findall(r"^\s*\d+\s+(\S+)\s", objdump(a.objdump, "-h", a.module), re.M)
    debug = [s for s in sections if s.startswith(".debug") or s.startswith(".zdebug")]
    if debug:
        failures.append(f"not stripped: debugging sections {debug}")
    if ".gnu_debuglink" not in sections:
        failures.append("no .gnu_debuglink to its debugging file")
    if "no symbols" not in objdump(a.objdump, "-t", a.module):
        failures.append("not stripped: it has a symbol table")
    if a.version:
        with open(a.module, "rb") as f:
            data = f.read()
        for key in ("FileVersion", "ProductVersion"):
            # A version resource string: the key in UTF-16, padding to 32 bits, the value.
            m = re.search(re.escape(key.encode("utf-16-le")) + rb"\0\0(?:\0\0)?((?:[^\0]\0)+)\0\0", data)
            got = m.group(1).decode("utf-16-le") if m else None
            if got != a.version:
                failures.append(f"{key} is {got!r}, expected {a.version!r}")
    return failures


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--objdump", required=True)
    ap.add_argument("--module", required=True)
    ap.add_argument("--machine", required=True, choices=["i386", "x86-64"])
    ap.add_argument("--exports", default="")
    ap.add_argument("--typelib")
    ap.add_argument("--resource", action="append", default=[])
    ap.add_argument("--version")
    ap.add_argument("--program", action="store_true")
    a = ap.parse_args()
    failures = []

    fmt = objdump(a.objdump, "-f", a.module)
    want_fmt = "pei-i386" if a.machine == "i386" else "pei-x86-64"
    if want_fmt not in fmt:
        failures.append(f"not a {want_fmt} module")
    private = objdump(a.objdump, "-p", a.module)
    is_dll = re.search(r"Characteristics.*\n(?:\s+.*\n)*?\s+DLL", private) is not None
    if is_dll == a.program:
        failures.append("a DLL" if a.program else "not a DLL")
    failures += stripped_failures(a)

    got = exports(private)
    want = [n for n in a.exports.split(",") if n]
    if sorted(got) != sorted(want):
        failures.append(f"exports {got}, expected {want}")
    for name in got:
        if "@" in name or name.startswith("_"):
            failures.append(f"decorated export {name}")

    for dll in imports(private):
        if dll.lower() not in SYSTEM_DLLS:
            failures.append(f"imports {dll}, which is not a system DLL")

    if a.typelib:
        leaf = resource_leaf(private, "TYPELIB", 1)
        if not leaf:
            failures.append('no resource "TYPELIB" 1')
        else:
            rva, size = leaf
            with open(a.typelib, "rb") as f:
                tlb = f.read()
            offset = file_offset(objdump(a.objdump, "-h", a.module), private, rva)
            with open(a.module, "rb") as f:
                f.seek(offset or 0)
                data = f.read(size)
            if offset is None or data != tlb:
                failures.append(f'resource "TYPELIB" 1 ({size} bytes) differs from {a.typelib}')

    tree = resource_names(private)
    for want_res in a.resource:
        rtype, name = want_res.split("/", 1)
        rtype = str(STANDARD_TYPES.get(rtype, rtype))
        if name not in tree.get(rtype, set()):
            failures.append(f"no resource {want_res}")

    for f in failures:
        print(f"{a.module}: {f}")
    if not failures:
        print(f"{a.module}: {a.machine} {'program' if a.program else 'DLL'}, stripped, exports {got or 'none'}, imports "
              f"{', '.join(imports(private))}" + (", TYPELIB 1 matches" if a.typelib else "") +
              (f", {len(a.resource)} named resources present" if a.resource else ""))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
