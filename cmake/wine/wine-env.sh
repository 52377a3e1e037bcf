# Sourced by the Wine helpers: the private prefix of one build folder and a quiet Wine.
# ZQ_WINE_DIR is the build's wine folder (prefix, display file, lock).
: "${ZQ_WINE_DIR:?ZQ_WINE_DIR must name the wine folder of a build}"
export WINEPREFIX="$ZQ_WINE_DIR/prefix"
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer dialogs in a fresh prefix, and no debugger that waits for
# someone when a test crashes.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=;winedbg.exe=d}
# Wine makes Unix file names in the locale's character set: without a UTF-8 locale (a bare
# environment, a fresh system) no file or folder with a Japanese name can be made.
[ "$(locale charmap 2>/dev/null)" = UTF-8 ] || export LC_ALL=C.UTF-8
ZQ_WINE64=${ZQ_WINE64:-/usr/lib/wine/wine64}
ZQ_WINESERVER=${ZQ_WINESERVER:-$(command -v wineserver || echo /usr/lib/wine/wineserver64)}

# What the prefix is made with; a prefix made otherwise is made anew.
ZQ_PREFIX_RECIPE="5: unmanaged X11 windows, Japanese fonts${ZQ_WINE_LINK_CANVAS_FONT:+ (canvas too)}"

# Japanese text in Wine's own user-interface fonts (title bars, menus, status lines,
# dialogs) through font linking to Debian's IPA fonts, and the Japanese faces that Windows
# has and the control names (ＭＳ Ｐゴシック) replaced by them.
zq_japanese_fonts() {
  local link='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' face
  local faces=(Tahoma 'MS Shell Dlg' 'MS Shell Dlg 2' 'Microsoft Sans Serif' 'Segoe UI')
  # The drawing's text face on a system that is not Japanese. Linked, Wine measures its
  # cells by the linked font too (Windows does not), so the tests' prefix leaves it alone.
  [ -n "${ZQ_WINE_LINK_CANVAS_FONT:-}" ] && faces+=('MS Sans Serif')
  for face in "${faces[@]}"; do
    "$ZQ_WINE64" reg add "$link" /v "$face" /t REG_MULTI_SZ /d 'ipagp.ttf,IPAPGothic\0ipag.ttf,IPAGothic' /f >/dev/null 2>&1
  done
  local repl='HKCU\Software\Wine\Fonts\Replacements'
  for face in 'ＭＳ Ｐゴシック' 'MS PGothic' 'MS UI Gothic' 'Meiryo UI' 'メイリオ'; do
    "$ZQ_WINE64" reg add "$repl" /v "$face" /d IPAPGothic /f >/dev/null 2>&1
  done
  for face in 'ＭＳ ゴシック' 'MS Gothic'; do
    "$ZQ_WINE64" reg add "$repl" /v "$face" /d IPAGothic /f >/dev/null 2>&1
  done
}

# Creates the prefix once; concurrent callers wait on the lock. Windows are unmanaged: the
# test display has no window manager, and Wine would otherwise wait two seconds for one
# each time a window is hidden.
zq_wine_prefix() {
  mkdir -p "$ZQ_WINE_DIR"
  (
    flock 9
    if [ "$(cat "$WINEPREFIX/.zq-ready" 2>/dev/null)" != "$ZQ_PREFIX_RECIPE" ]; then
      rm -rf "$WINEPREFIX"
      "$ZQ_WINE64" wineboot -i >/dev/null 2>&1 || true
      "$ZQ_WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
      zq_japanese_fonts
      "$ZQ_WINESERVER" -w
      [ -f "$WINEPREFIX/system.reg" ] || { echo "wine: cannot create the prefix $WINEPREFIX" >&2; exit 1; }
      echo "$ZQ_PREFIX_RECIPE" > "$WINEPREFIX/.zq-ready"
    fi
  ) 9>"$ZQ_WINE_DIR/.lock"
}
