#!/usr/bin/env python3
"""Builds the distribution of one target from its built modules:

    package.py --top TOP --arch win32|win64 --modules DIR
               (--capture-modules DIR | --registration FILE) --version X.Y --out DIR

  ZanQuilmo4-<version>-<arch>.zip   the four modules, the demo, register.cmd and
                                    unregister.cmd, README.txt
  ZanQuilmo4-<version>-<arch>.msi   installs into Program Files and registers the classes,
                                    type libraries and ProgIDs through its own registry
                                    entries; uninstalling removes them with the files
  registration.json                 what DllRegisterServer wrote, the reference for both
                                    (--registration takes one written before instead of
                                    registering again)

The registry entries are those the modules' own DllRegisterServer writes: the modules of
--capture-modules are registered from Program Files in a fresh Wine prefix of their kind and
the change is read back; a win64 registration used for win32 gets win32 type libraries. Paths become the installer's file references
([#file] long, [!file] short, [INSTALLDIR] the folder).

wixl (0.101) stores text that is not ASCII as empty strings whatever the code page (the
verb name "プロパティ,0,2"); its Registry table is therefore written once more with msibuild
under code page 932, with every value as it must be."""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import uuid
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winereg  # noqa: E402

MODULES = ["ZanQuilmo4.ocx", "ZanPBrush4.ocx", "ZanTablet4.ocx", "ZANPngUt.dll"]
SERVERS = ["ZanPBrush4.ocx", "ZanTablet4.ocx", "ZanQuilmo4.ocx"]  # companions first
FILES = MODULES + ["ZanQuilmoDemo.exe"]
INSTALL_DIR = r"C:\Program Files\ZanQuilmo4"
# Fixed identities of the product: upgrades replace it, components stay the same.
UPGRADE_CODE = "6F1D6C1E-3B1A-4C55-9E0C-5A8F7D2B9C41"
NAMESPACE = uuid.UUID("0B7E8E5A-6C93-4F0B-8E2D-3D6A1C7B5E90")


def module_arch(path):
    """win32 or win64, from the machine field of a module's PE header."""
    with open(path, "rb") as f:
        head = f.read(4096)
    pe = int.from_bytes(head[0x3C:0x40], "little")
    machine = int.from_bytes(head[pe + 4:pe + 6], "little")
    return {0x14C: "win32", 0x8664: "win64"}[machine]


def capture(top, modules, work):
    """What DllRegisterServer writes for the modules installed in INSTALL_DIR, in a prefix of
    their own kind (the 32-bit modules with the i386 root's Wine)."""
    arch = module_arch(os.path.join(modules, "ZanQuilmo4.ocx"))
    prefix = winereg.Prefix(top, os.path.join(work, "capture-wine"), arch=arch)
    try:
        folder = prefix.unix_path(INSTALL_DIR)
        os.makedirs(folder)
        for m in MODULES:
            shutil.copy2(os.path.join(modules, m), folder)
        before = prefix.snapshot()
        for m in SERVERS:
            prefix.run("regsvr32", "/s", INSTALL_DIR + "\\" + m)
        after = prefix.snapshot()
        paths = {m: {"long": INSTALL_DIR + "\\" + m, "short": prefix.short_path(INSTALL_DIR + "\\" + m)}
                 for m in MODULES}
        return {"folder": INSTALL_DIR + "\\", "paths": paths,
                "entries": winereg.changes(before, after)}
    finally:
        prefix.close()


def file_id(name):
    return name.replace("-", "_")


def installer_value(data, reg):
    """A registered value in the installer's formatted text."""
    for m, p in reg["paths"].items():
        if data == p["short"]:
            return f"[!{file_id(m)}]"
        data = data.replace(p["long"], f"[#{file_id(m)}]")
    if data.lower() == reg["folder"].lower():
        return "[INSTALLDIR]"
    return data


def installer_rows(reg, arch):
    rows = []
    for key in sorted(reg["entries"], key=str.lower):
        k = key.replace("\\0\\win64", "\\0\\win32") if arch == "win32" else key
        for name, (kind, data) in sorted(reg["entries"][key].items()):
            if kind != "string":
                raise SystemExit(f"{key}\\{name}: {kind} values are not expected")
            rows.append({"id": f"reg{len(rows) + 1:04d}", "key": k, "name": name,
                         "value": installer_value(data, reg)})
    return rows


def xml(s):
    return (s.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;").replace('"', "&quot;"))


def write_wxs(path, arch, version, rows, modules):
    win64 = arch == "win64"
    w64 = ' Win64="yes"' if win64 else ""
    pf = "ProgramFiles64Folder" if win64 else "ProgramFilesFolder"
    comps = []
    for f in FILES:
        guid = uuid.uuid5(NAMESPACE, f"{arch}/{f}")
        regs = ""
        if f == "ZanQuilmo4.ocx":
            # The registration goes and comes with the control's file.
            regs = "".join(
                f'\n            <RegistryValue Id="{r["id"]}" Root="HKCR" Key="{xml(r["key"])}"'
                + (f' Name="{xml(r["name"])}"' if r["name"] else "")
                + f' Type="string" Value="{xml(r["value"]) if r["value"].isascii() else "?"}"/>'
                for r in rows)
        src = f  # wixl reads sources relative to the folder it runs in: the modules
        comps.append(f'''          <Component Id="c_{file_id(f)}" Guid="{guid}"{w64}>
            <File Id="{file_id(f)}" Name="{f}" Source="{src}" KeyPath="yes"/>{regs}
          </Component>''')
    refs = "\n".join(f'      <ComponentRef Id="c_{file_id(f)}"/>' for f in FILES)
    product = uuid.uuid5(NAMESPACE, f"{arch}/product/{version}")
    text = f'''<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="{product}" Name="ZanQuilmo4 {version}" Language="1041" Codepage="932"
           Version="{version}.0" Manufacturer="ZanQuilmo4" UpgradeCode="{UPGRADE_CODE}">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine" SummaryCodepage="932"
             Description="ZanQuilmo4 handwritten memo control"/>
    <MajorUpgrade DowngradeErrorMessage="A newer ZanQuilmo4 is installed."/>
    <Media Id="1" Cabinet="zq.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="{pf}">
        <Directory Id="INSTALLDIR" Name="ZanQuilmo4">
{chr(10).join(comps)}
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Control" Title="ZanQuilmo4" Level="1">
{refs}
    </Feature>
  </Product>
</Wix>
'''
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def rewrite_registry_table(msi, rows, work):
    """The Registry table again, every value in full, under code page 932."""
    out = subprocess.run(["msiinfo", "export", msi, "Registry"], check=True, capture_output=True).stdout
    lines = out.decode("utf-8").split("\r\n")
    values = {r["id"]: r["value"] for r in rows}
    fixed = []
    for i, line in enumerate(lines):
        if i >= 3 and line:
            f = line.split("\t")
            if f[0] in values:
                f[4] = values.pop(f[0])
            line = "\t".join(f)
        fixed.append(line)
    if values:
        raise SystemExit(f"rows missing from the Registry table: {sorted(values)}")
    d = tempfile.mkdtemp(dir=work)
    with open(os.path.join(d, "_ForceCodepage.idt"), "wb") as f:
        f.write(b"\r\n\r\n932\t_ForceCodepage\r\n")
    with open(os.path.join(d, "Registry.idt"), "wb") as f:
        f.write("\r\n".join(fixed).encode("utf-8"))
    subprocess.run(["msibuild", msi, "-i", os.path.join(d, "_ForceCodepage.idt"), "-i",
                    os.path.join(d, "Registry.idt")], check=True)
    check = subprocess.run(["msiinfo", "export", msi, "Registry"], check=True, capture_output=True).stdout
    got = {line.split("\t")[0]: line.split("\t")[4] for line in check.decode("utf-8").split("\r\n")[3:] if line}
    for r in rows:
        if got.get(r["id"]) != r["value"]:
            raise SystemExit(f"the installer holds {got.get(r['id'])!r} for {r['key']}, not {r['value']!r}")


REGISTER = r"""@echo off
rem Registers the ZanQuilmo4 control and its companions where they lie (this folder).
rem Run it as an administrator; unregister.cmd undoes it.
setlocal
set "here=%~dp0"
set "regsvr=%SystemRoot%\System32\regsvr32.exe"
{wow}for %%m in ({servers}) do (
  "%regsvr%" /s {undo}"%here%%%m"
  if errorlevel 1 (
    echo {failed} %%m
    exit /b 1
  )
)
echo {done}
"""

README = """ZanQuilmo4 {version} ({arch})
=====================

ZanQuilmo4.ocx is an ActiveX control in which people write and draw handwritten memos with
a pen tablet or the mouse. Hosts read the drawing as Base64 PNG text (PngImageBase64), as an
OLE picture (Picture) or as a PNG, BMP or JPEG file (SaveToFile).

Files
  ZanQuilmo4.ocx     the control, class ZanQuilmoAx4 (ProgID ZanQuilmo4.ZanQuilmoAx4)
  ZanPBrush4.ocx     its pressure brush and eraser
  ZanTablet4.ocx     its tablet input
  ZANPngUt.dll       its PNG library
  ZanQuilmoDemo.exe  a demo: the control in a window with menus (runs without registration)
  register.cmd       registers the three .ocx files from this folder (as administrator)
  unregister.cmd     removes that registration

Keep the four modules together in one folder. The installer (ZanQuilmo4-{version}-{arch}.msi)
copies them into Program Files and registers them; uninstall it from the Control Panel.

Scripting: var memo = new ActiveXObject("ZanQuilmo4.ZanQuilmoAx4");
Web pages cannot read or write files through the control unless an administrator lists the
site under HKEY_LOCAL_MACHINE\\SOFTWARE\\ZanQuilmo4\\AllowedSites.
"""


def crlf(text):
    return text.replace("\r\n", "\n").replace("\n", "\r\n").encode("utf-8")


def write_zip(path, arch, version, modules):
    wow = (r'if exist "%SystemRoot%\SysWOW64\regsvr32.exe" set "regsvr=%SystemRoot%\SysWOW64\regsvr32.exe"' + "\n"
           if arch == "win32" else "")
    base = f"ZanQuilmo4-{version}-{arch}/"
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for f in FILES:
            z.write(os.path.join(modules, f), base + f)
        z.writestr(base + "register.cmd", crlf(REGISTER.format(
            wow=wow, servers=" ".join(SERVERS), undo="", failed="Could not register",
            done="ZanQuilmo4 is registered.")))
        z.writestr(base + "unregister.cmd", crlf(REGISTER.format(
            wow=wow, servers=" ".join(reversed(SERVERS)), undo="/u ", failed="Could not unregister",
            done="ZanQuilmo4 is no longer registered.")))
        z.writestr(base + "README.txt", crlf(README.format(version=version, arch=arch)))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--top", required=True)
    ap.add_argument("--arch", required=True, choices=["win32", "win64"])
    ap.add_argument("--modules", required=True)
    source = ap.add_mutually_exclusive_group(required=True)
    source.add_argument("--capture-modules")
    source.add_argument("--registration")
    ap.add_argument("--version", required=True)
    ap.add_argument("--out", required=True)
    a = ap.parse_args()
    os.makedirs(a.out, exist_ok=True)
    work = tempfile.mkdtemp(prefix="package-", dir=a.out)
    try:
        if a.registration:
            with open(a.registration, encoding="utf-8") as f:
                reg = json.load(f)
        else:
            reg = capture(a.top, a.capture_modules, work)
        with open(os.path.join(a.out, "registration.json"), "w", encoding="utf-8") as f:
            json.dump(reg, f, ensure_ascii=False, indent=1, sort_keys=True)
        name = f"ZanQuilmo4-{a.version}-{a.arch}"
        write_zip(os.path.join(a.out, name + ".zip"), a.arch, a.version, a.modules)
        rows = installer_rows(reg, a.arch)
        wxs = os.path.join(work, name + ".wxs")
        write_wxs(wxs, a.arch, a.version, rows, a.modules)
        msi = os.path.join(a.out, name + ".msi")
        subprocess.run(["wixl", "-a", "x64" if a.arch == "win64" else "x86", "-o", os.path.abspath(msi),
                        os.path.abspath(wxs)], check=True, cwd=a.modules)
        rewrite_registry_table(msi, rows, work)
        print(f"package: {os.path.join(a.out, name)}.zip and .msi ({len(rows)} registry values)")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
