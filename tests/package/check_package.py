#!/usr/bin/env python3
"""The distribution of one build (--arch: win64 from the x86_64 build, win32 from the i686 one)
installed as a user would, each time in a fresh Wine prefix of that build's kind (the 32-bit
ones with the 32-bit Wine of the i386 root, its msiexec, cmd, regsvr32 and cscript):

  - the MSI, with msiexec /i /qn: every registry entry DllRegisterServer writes is there,
    key by key and value by value, and nothing else outside the Installer's own keys
    (HKCR\Installer); the files are in Program Files; cscript creates the control by its
    ProgID; msiexec /x leaves the registry as it was before (the Installer's empty folder
    keys aside) and no file behind;
  - the zip, unpacked into a folder whose name has a blank: register.cmd writes the same
    entries (with that folder's paths), cscript creates the control, unregister.cmd
    removes them all;
  - from the x86_64 build, also a 32-bit package made of --i686-modules with the registration
    the 64-bit modules wrote, read back with msiinfo: the 32-bit modules, a 32-bit package
    installing into the 32-bit Program Files, and the same registry entries with win32 type
    libraries. (The win32 package that ships is made from the 32-bit modules' own
    registration, and the i686 build installs it for real.)

    check_package.py --top TOP --build BUILD --version X.Y [--arch win32|win64]
                     [--i686-modules DIR]
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import zipfile

TOP = None
FAILURES = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what)
    if not ok:
        FAILURES.append(what)


def lower_keys(entries):
    return {k.lower(): v for k, v in entries.items()}


def compare(got, want, what):
    got, want = lower_keys(got), lower_keys(want)
    missing = sorted(set(want) - set(got))
    extra = sorted(set(got) - set(want))
    differ = sorted(k for k in set(got) & set(want) if got[k] != want[k])
    for k in differ[:5]:
        print(f"     {k}: {got[k]} instead of {want[k]}")
    check(not missing and not extra and not differ,
          f"{what}: {len(want)} keys as DllRegisterServer writes them"
          + (f"; missing {missing[:5]}" if missing else "")
          + (f"; extra {extra[:5]}" if extra else "")
          + (f"; {len(differ)} differ" if differ else ""))


def script_creates(prefix, where):
    """cscript makes the control by its ProgID and reads a property."""
    js = os.path.join(where, "create.js")
    with open(js, "w") as f:
        f.write('var m = new ActiveXObject("ZanQuilmo4.ZanQuilmoAx4");\n'
                'WScript.Echo("created, drawing " + m.DrawEnabled);\n')
    code, out = prefix.run("cscript", "//NoLogo", "Z:" + js.replace("/", "\\"), check=False)
    return code == 0 and "created, drawing" in out, out.strip()


def warm_up(prefix, work):
    """Wine registers some of its own script interfaces on first use; that happens here,
    before the snapshot the installation is compared with."""
    js = os.path.join(work, "hello.js")
    with open(js, "w") as f:
        f.write('WScript.Echo("hello");\n')
    prefix.run("cscript", "//NoLogo", "Z:" + js.replace("/", "\\"), check=False)


def check_msi(winereg, work, msi, reg, display, arch):
    prefix = winereg.Prefix(TOP, os.path.join(work, "msi-wine"), display, arch)
    try:
        warm_up(prefix, work)
        before = prefix.snapshot()
        code, out = prefix.run("msiexec", "/i", "Z:" + msi.replace("/", "\\"), "/qn", check=False)
        check(code == 0, f"msiexec /i /qn succeeds ({code}) {out.strip()[:200]}")
        after = prefix.snapshot()
        compare(winereg.changes(before, after, ignore=("Installer",)), reg["entries"], "the MSI's registry")
        folder = prefix.unix_path(reg["folder"])
        check(all(os.path.isfile(os.path.join(folder, f)) for f in
                  ("ZanQuilmo4.ocx", "ZanPBrush4.ocx", "ZanTablet4.ocx", "ZANPngUt.dll", "ZanQuilmoDemo.exe")),
              "the five files are in " + reg["folder"])
        ok, said = script_creates(prefix, work)
        check(ok, f"cscript creates the installed control by its ProgID ({said[:120]})")
        code, out = prefix.run("msiexec", "/x", "Z:" + msi.replace("/", "\\"), "/qn", check=False)
        check(code == 0, f"msiexec /x /qn succeeds ({code})")
        gone = prefix.snapshot()
        left = winereg.changes(before, gone, ignore=("Installer",))
        check(not left, f"uninstalling leaves no key or value behind {sorted(left)[:5]}")
        check(not os.path.exists(folder), "uninstalling removes the folder and its files")
    finally:
        prefix.close()


def check_zip(winereg, work, archive, reg, display, arch):
    prefix = winereg.Prefix(TOP, os.path.join(work, "zip-wine"), display, arch)
    try:
        target = prefix.unix_path(r"C:\ZQ test")
        with zipfile.ZipFile(archive) as z:
            z.extractall(target)
        inner = os.listdir(target)[0]
        win_folder = "C:\\ZQ test\\" + inner
        # The reference with this folder's paths.
        want = json.loads(json.dumps(reg["entries"]))
        replace = [(reg["folder"], win_folder + "\\")]
        for m, p in reg["paths"].items():
            replace.append((p["short"], prefix.short_path(win_folder + "\\" + m)))
            replace.append((p["long"], win_folder + "\\" + m))
        for values in want.values():
            for name, (kind, data) in values.items():
                for old, new in replace:
                    data = new if data == old else data.replace(old, new)
                values[name] = [kind, data]
        want = {k: {n: tuple(v) for n, v in vals.items()} for k, vals in want.items()}
        warm_up(prefix, work)
        before = prefix.snapshot()
        code, out = prefix.run("cmd", "/c", win_folder + "\\register.cmd", check=False)
        check(code == 0 and "is registered" in out, f"register.cmd succeeds ({code}: {out.strip()[:120]})")
        compare(winereg.changes(before, prefix.snapshot()), want, "register.cmd's registry")
        ok, said = script_creates(prefix, work)
        check(ok, f"cscript creates the unpacked control by its ProgID ({said[:120]})")
        code, out = prefix.run("cmd", "/c", win_folder + "\\unregister.cmd", check=False)
        check(code == 0, f"unregister.cmd succeeds ({code}: {out.strip()[:120]})")
        left = winereg.changes(before, prefix.snapshot())
        check(not left, f"unregistering leaves no key or value behind {sorted(left)[:5]}")
    finally:
        prefix.close()


def msi_table(msi, table):
    out = subprocess.run(["msiinfo", "export", msi, table], check=True, capture_output=True).stdout
    return [line.split("\t") for line in out.decode("utf-8").split("\r\n")[3:] if line]


def check_win32(work, modules, version, win64_msi, registration):
    out = os.path.join(work, "win32")
    subprocess.run([sys.executable, os.path.join(TOP, "packaging", "package.py"), "--top", TOP, "--arch", "win32",
                    "--modules", modules, "--registration", registration,
                    "--version", version, "--out", out], check=True)
    msi = os.path.join(out, f"ZanQuilmo4-{version}-win32.msi")
    info = subprocess.run(["msiinfo", "suminfo", msi], check=True, capture_output=True, text=True).stdout
    check("Template: Intel;" in info, "the win32 MSI is a 32-bit package")
    dirs = {row[0]: row for row in msi_table(msi, "Directory")}
    check("ProgramFilesFolder" in dirs and "ProgramFiles64Folder" not in dirs, "it installs into the 32-bit Program Files")
    components = msi_table(msi, "Component")
    check(all(int(row[3]) & 256 == 0 for row in components), "its components are 32-bit")
    sizes = {row[0]: int(row[3]) for row in msi_table(msi, "File")}
    check(all(sizes.get(f) == os.path.getsize(os.path.join(modules, f)) for f in
              ("ZanQuilmo4.ocx", "ZanPBrush4.ocx", "ZanTablet4.ocx", "ZANPngUt.dll", "ZanQuilmoDemo.exe")),
          "it carries the five 32-bit files")
    rows32 = {(r[2], r[3], r[4]) for r in msi_table(msi, "Registry")}
    rows64 = {(r[2].replace("\\0\\win64", "\\0\\win32"), r[3], r[4]) for r in msi_table(win64_msi, "Registry")}
    check(rows32 == rows64 and any(k.endswith("\\0\\win32") for k, _, _ in rows32),
          f"its {len(rows32)} registry entries are the 64-bit package's with win32 type libraries")
    with zipfile.ZipFile(os.path.join(out, f"ZanQuilmo4-{version}-win32.zip")) as z:
        names = sorted(n.split("/", 1)[1] for n in z.namelist())
        register = z.read(f"ZanQuilmo4-{version}-win32/register.cmd").decode()
    check(names == sorted(["README.txt", "ZANPngUt.dll", "ZanPBrush4.ocx", "ZanQuilmo4.ocx", "ZanQuilmoDemo.exe",
                           "ZanTablet4.ocx", "register.cmd", "unregister.cmd"]), f"the win32 zip holds {names}")
    check("SysWOW64" in register, "its register.cmd uses the 32-bit regsvr32 on 64-bit Windows")


def start_xvfb():
    read, write = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                            pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    with os.fdopen(read) as f:
        number = f.readline().strip()
    if not number:
        raise SystemExit("Xvfb did not start")
    return xvfb, ":" + number


def main():
    global TOP
    ap = argparse.ArgumentParser()
    ap.add_argument("--top", required=True)
    ap.add_argument("--build", required=True)
    ap.add_argument("--version", required=True)
    ap.add_argument("--arch", choices=["win32", "win64"], default="win64")
    ap.add_argument("--i686-modules")
    a = ap.parse_args()
    TOP = a.top
    sys.path.insert(0, os.path.join(TOP, "packaging"))
    import winereg
    # A display of its own: the scripts' controls open windows, and the tests that share the
    # session's display must keep its focus and mouse to themselves.
    xvfb, display = start_xvfb()
    work = os.path.join(a.build, "package-test")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    subprocess.run([sys.executable, os.path.join(TOP, "packaging", "package.py"), "--top", TOP, "--arch", a.arch,
                    "--modules", os.path.join(a.build, "modules"), "--capture-modules",
                    os.path.join(a.build, "modules"), "--version", a.version, "--out", work], check=True)
    with open(os.path.join(work, "registration.json"), encoding="utf-8") as f:
        reg = json.load(f)
    reg["entries"] = {k: {n: tuple(v) for n, v in vals.items()} for k, vals in reg["entries"].items()}
    verb = [v for k, vals in reg["entries"].items() if k.lower().endswith("\\verb\\0") for v in vals.values()]
    check(("string", "プロパティ,0,2") in verb, "DllRegisterServer registers the verb プロパティ,0,2")
    name = f"ZanQuilmo4-{a.version}-{a.arch}"
    check_msi(winereg, work, os.path.join(work, name + ".msi"), reg, display, a.arch)
    check_zip(winereg, work, os.path.join(work, name + ".zip"), reg, display, a.arch)
    if a.arch == "win32":
        check(any(k.lower().endswith("\\0\\win32") for k in reg["entries"]),
              "the 32-bit modules register win32 type libraries")
    elif a.i686_modules and os.path.isfile(os.path.join(a.i686_modules, "ZanQuilmo4.ocx")):
        check_win32(work, a.i686_modules, a.version, os.path.join(work, name + ".msi"),
                    os.path.join(work, "registration.json"))
    else:
        check(not os.environ.get("ZQ_REQUIRE_I686"), f"the 32-bit modules are in {a.i686_modules}")
    xvfb.terminate()
    print(f"{len(FAILURES)} failed")
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
