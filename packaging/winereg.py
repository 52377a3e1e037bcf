"""The Windows registry of a private Wine prefix, read through reg.exe exports, for
packaging and for the installer's tests: what a command (regsvr32, msiexec, a script)
changes in HKLM\\Software\\Classes (what HKEY_CLASSES_ROOT shows).

A snapshot is {key: {value name: (type, data)}} with keys relative to
HKLM\\Software\\Classes, compared without regard to case, as the registry does."""
import os
import re
import subprocess
import tempfile

CLASSES = r"HKEY_LOCAL_MACHINE\Software\Classes"


class Prefix:
    """A fresh prefix made by cmake/wine/wine-env.sh in `wine_dir` (deleted first), on
    `display` (an X display for the programs that open windows), or None. `arch` "win64"
    runs wine64; "win32" the 32-bit Wine of the i386 root (scripts/bootstrap)."""

    def __init__(self, top, wine_dir, display=None, arch="win64"):
        self.top, self.wine_dir, self.display = top, os.path.abspath(wine_dir), display
        self.wine_env = os.path.join(top, "cmake", "wine", "wine-env.sh")
        subprocess.run(["rm", "-rf", self.wine_dir], check=True)
        os.makedirs(self.wine_dir)
        self.env = dict(os.environ, ZQ_WINE_DIR=self.wine_dir, ZQ_WINE_ARCH=arch, ZQ_TOP=os.path.abspath(top))
        # This prefix's Wine is the one named here, whatever build called us.
        self.env.pop("ZQ_WINE_CONFIG", None)
        self.env.pop("DISPLAY", None)
        self._bash("zq_wine_prefix", check=True)
        if display:
            self.env["DISPLAY"] = display
        self.env["WINEPREFIX"] = os.path.join(self.wine_dir, "prefix")

    def _bash(self, command, *args, **kwargs):
        return subprocess.run(["bash", "-c", f'. "$0" && {command}', self.wine_env, *args], env=self.env, **kwargs)

    def unix_path(self, windows_path):
        """C:\\x\\y as a path of this machine."""
        drive, rest = windows_path.split(":", 1)
        assert drive.upper() == "C", windows_path
        return os.path.join(self.env["WINEPREFIX"], "drive_c", *[p for p in rest.split("\\") if p])

    def run(self, *args, timeout=300, check=True):
        r = self._bash('exec "${ZQ_WINE[@]}" "$@"', *args, capture_output=True, timeout=timeout)
        out = r.stdout.decode("utf-8", "replace") + r.stderr.decode("utf-8", "replace")
        if check and r.returncode != 0:
            raise RuntimeError(f"{' '.join(args)} failed ({r.returncode}): {out}")
        return r.returncode, out

    def short_path(self, path):
        """The short (8.3) form of an existing path, as GetShortPathNameW gives it."""
        _, out = self.run("winepath", "-s", path)
        short = out.strip().splitlines()[-1].strip()
        if not short or '"' in short or short.upper().startswith("Z:"):
            raise RuntimeError(f"no short path for {path}: {out!r}")
        return short

    def snapshot(self):
        with tempfile.TemporaryDirectory() as d:
            out = os.path.join(d, "classes.reg")
            self.run("reg", "export", CLASSES, "Z:" + out.replace("/", "\\"), "/y")
            with open(out, "rb") as f:
                return parse_reg(f.read())

    def close(self):
        self._bash('"${ZQ_WINESERVER_CMD[@]}" -k', capture_output=True)


def _unescape(s):
    return re.sub(r"\\(.)", r"\1", s)


def parse_reg(raw):
    """A regedit export (UTF-16 with a byte order mark, or UTF-8) as a snapshot."""
    text = raw.decode("utf-16") if raw[:2] in (b"\xff\xfe", b"\xfe\xff") else raw.decode("utf-8")
    text = re.sub(r"\\\r?\n\s*", "", text)  # continued hex lines
    snap, key = {}, None
    for line in text.splitlines():
        if line.startswith("[") and line.endswith("]"):
            full = line[1:-1]
            key = full[len(CLASSES) + 1:] if full.lower().startswith(CLASSES.lower() + "\\") else None
            if key is not None:
                snap.setdefault(key, {})
            continue
        if key is None or not line or line.startswith(";"):
            continue
        m = re.match(r'^(@|"((?:[^"\\]|\\.)*)")=(.*)$', line)
        if not m:
            continue
        name = "" if m.group(1) == "@" else _unescape(m.group(2))
        data = m.group(3)
        if data.startswith('"'):
            snap[key][name] = ("string", _unescape(data[1:-1]))
        else:
            kind, _, rest = data.partition(":")
            snap[key][name] = (kind, rest)
    return snap


def changes(before, after, ignore=()):
    """What `after` has that `before` has not: {key: {name: (type, data)}} with each key
    that is new (also with no values) or has new or changed values. The keys named in
    `ignore`, and the keys under them, are left out."""
    low_before = {k.lower(): v for k, v in before.items()}
    out = {}
    for key, values in after.items():
        if any(key.lower() == p.lower() or key.lower().startswith(p.lower() + "\\") for p in ignore):
            continue
        old = low_before.get(key.lower())
        if old is None:
            out[key] = dict(values)
            continue
        diff = {n: v for n, v in values.items() if old.get(n) != v}
        if diff:
            out[key] = diff
    return out
