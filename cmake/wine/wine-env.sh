# Sourced by the Wine helpers: the private prefix of one build folder and a quiet Wine.
# ZQ_WINE_DIR is the build's wine folder (prefix, display file, lock).
: "${ZQ_WINE_DIR:?ZQ_WINE_DIR must name the wine folder of a build}"
export WINEPREFIX="$ZQ_WINE_DIR/prefix"
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer dialogs in a fresh prefix.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
ZQ_WINE64=${ZQ_WINE64:-/usr/lib/wine/wine64}
ZQ_WINESERVER=${ZQ_WINESERVER:-$(command -v wineserver || echo /usr/lib/wine/wineserver64)}

# Creates the prefix once; concurrent callers wait on the lock.
zq_wine_prefix() {
  mkdir -p "$ZQ_WINE_DIR"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.zq-ready" ]; then
      rm -rf "$WINEPREFIX"
      "$ZQ_WINE64" wineboot -i >/dev/null 2>&1 || true
      "$ZQ_WINESERVER" -w
      [ -f "$WINEPREFIX/system.reg" ] || { echo "wine: cannot create the prefix $WINEPREFIX" >&2; exit 1; }
      touch "$WINEPREFIX/.zq-ready"
    fi
  ) 9>"$ZQ_WINE_DIR/.lock"
}
