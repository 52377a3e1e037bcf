# Sourced by the Wine helpers: the private prefix of one build folder and a quiet Wine.
# ZQ_WINE_DIR is the build's wine folder (prefix, display file, lock). Which Wine runs the
# programs comes from the build's wine-config.sh (or $ZQ_WINE_CONFIG): wine64 for the x86_64
# build, the 32-bit Wine of the i386 root (under qemu-i386, see i386-enter) for the i686 one.
: "${ZQ_WINE_DIR:?ZQ_WINE_DIR must name the wine folder of a build}"
zq_wine_helpers=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
zq_wine_config=${ZQ_WINE_CONFIG:-$ZQ_WINE_DIR/wine-config.sh}
[ -f "$zq_wine_config" ] && . "$zq_wine_config"
ZQ_WINE_ARCH=${ZQ_WINE_ARCH:-win64}
export WINEPREFIX="$ZQ_WINE_DIR/prefix"
export WINEARCH=$ZQ_WINE_ARCH
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer dialogs in a fresh prefix, and no debugger that waits for
# someone when a test crashes.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=;winedbg.exe=d}
# Wine makes Unix file names in the locale's character set: without a UTF-8 locale (a bare
# environment, a fresh system) no file or folder with a Japanese name can be made.
[ "$(locale charmap 2>/dev/null)" = UTF-8 ] || export LC_ALL=C.UTF-8
ZQ_WINE64=${ZQ_WINE64:-/usr/lib/wine/wine64}
ZQ_WINESERVER=${ZQ_WINESERVER:-$(command -v wineserver || echo /usr/lib/wine/wineserver64)}

# ZQ_WINE and ZQ_WINESERVER_CMD: the commands (arrays) that run a Windows program and the
# prefix's wineserver. The 32-bit ones enter the i386 root that scripts/bootstrap makes; the
# checkout, the build and the wine folder are bound into it at their own paths, so that the
# same paths (Z:\...) mean the same files inside and out.
if [ "$ZQ_WINE_ARCH" = win32 ]; then
  ZQ_DEPS_PREFIX=${ZQ_DEPS_PREFIX:-/opt/zanquilmo4-deps}
  ZQ_I386_ROOT=${ZQ_I386_ROOT:-$ZQ_DEPS_PREFIX/i386-root}
  if [ ! -f "$ZQ_I386_ROOT/.zq-ready" ]; then
    echo "wine: no 32-bit Wine in $ZQ_I386_ROOT: run scripts/bootstrap" >&2
  fi
  zq_i386=(python3 "$zq_wine_helpers/i386-enter" --root "$ZQ_I386_ROOT"
           --qemu "$ZQ_DEPS_PREFIX/qemu/qemu-i386" --native-wineserver --bind "$ZQ_WINE_DIR")
  for zq_dir in ${ZQ_TOP:+"$ZQ_TOP"} ${ZQ_BUILD_DIR:+"$ZQ_BUILD_DIR"} ${ZQ_I386_BIND:-}; do
    zq_i386+=(--bind "$zq_dir")
  done
  [ -d "$ZQ_DEPS_PREFIX/src" ] && zq_i386+=(--ro-bind "$ZQ_DEPS_PREFIX/src")
  zq_i386+=(--)
  ZQ_WINE=("${zq_i386[@]}" /usr/lib/wine/wine)
  ZQ_WINESERVER_CMD=("${zq_i386[@]}" /usr/lib/wine/wineserver)
else
  ZQ_WINE=("$ZQ_WINE64")
  ZQ_WINESERVER_CMD=("$ZQ_WINESERVER")
fi

# What the prefix is made with; a prefix made otherwise is made anew.
ZQ_PREFIX_RECIPE="6 $ZQ_WINE_ARCH: unmanaged X11 windows, Japanese fonts${ZQ_WINE_LINK_CANVAS_FONT:+ (canvas too)}"

# The prefix's settings: windows unmanaged (the test display has no window manager, and Wine
# would otherwise wait two seconds for one each time a window is hidden); Japanese text in
# Wine's own user-interface fonts (title bars, menus, status lines, dialogs) through font
# linking to Debian's IPA fonts, and the Japanese faces that Windows has and the control
# names (ＭＳ Ｐゴシック) replaced by them. One registry file imported by one reg.exe: under
# qemu each Wine process costs seconds.
zq_prefix_settings() {
  local file=$ZQ_WINE_DIR/prefix-settings.reg
  python3 - "$file" "${ZQ_WINE_LINK_CANVAS_FONT:-}" <<'EOF'
import sys
path, canvas = sys.argv[1], sys.argv[2]
link = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink"
faces = ["Tahoma", "MS Shell Dlg", "MS Shell Dlg 2", "Microsoft Sans Serif", "Segoe UI"]
# The drawing's text face on a system that is not Japanese. Linked, Wine measures its cells
# by the linked font too (Windows does not), so the tests' prefix leaves it alone.
if canvas:
    faces.append("MS Sans Serif")
linked = "ipagp.ttf,IPAPGothic\0ipag.ttf,IPAGothic\0\0".encode("utf-16-le")
multi = "hex(7):" + ",".join(f"{b:02x}" for b in linked)
lines = ["Windows Registry Editor Version 5.00", "", r"[HKEY_CURRENT_USER\Software\Wine\X11 Driver]",
         '"Managed"="N"', "", f"[{link}]"]
lines += [f'"{face}"={multi}' for face in faces]
lines += ["", r"[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]"]
for face in ["ＭＳ Ｐゴシック", "MS PGothic", "MS UI Gothic", "Meiryo UI", "メイリオ"]:
    lines.append(f'"{face}"="IPAPGothic"')
for face in ["ＭＳ ゴシック", "MS Gothic"]:
    lines.append(f'"{face}"="IPAGothic"')
with open(path, "wb") as f:
    f.write(("\ufeff" + "\r\n".join(lines) + "\r\n").encode("utf-16-le"))
EOF
  "${ZQ_WINE[@]}" reg import "Z:$(printf '%s' "$file" | tr / '\\')" >/dev/null 2>&1
}

# Creates the prefix once; concurrent callers wait on the lock.
zq_wine_prefix() {
  mkdir -p "$ZQ_WINE_DIR"
  (
    flock 9
    if [ "$(cat "$WINEPREFIX/.zq-ready" 2>/dev/null)" != "$ZQ_PREFIX_RECIPE" ]; then
      rm -rf "$WINEPREFIX"
      "${ZQ_WINE[@]}" wineboot -i >/dev/null 2>&1 || true
      zq_prefix_settings
      "${ZQ_WINESERVER_CMD[@]}" -w
      [ -f "$WINEPREFIX/system.reg" ] || { echo "wine: cannot create the prefix $WINEPREFIX" >&2; exit 1; }
      echo "$ZQ_PREFIX_RECIPE" > "$WINEPREFIX/.zq-ready"
    fi
  ) 9>"$ZQ_WINE_DIR/.lock"
}
