# Shared by the project's scripts: build folder, Wine prefix, wineserver.
# shellcheck shell=bash

KV_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
KV_BUILD=${KV_BUILD:-$KV_ROOT/build}
export WINEPREFIX=${WINEPREFIX_OVERRIDE:-$KV_BUILD/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY

# Every Wine program the scripts start reads no terminal and is ended after
# five minutes (KV_WINE_TIMEOUT seconds): a hung driver call or a deadlock
# fails the step that ran it, with a line that says so, instead of hanging
# the whole run. timeout runs the wine binary, not this function.
wine() {
  local rc=0 limit=${KV_WINE_TIMEOUT:-300}
  timeout -k 10 "$limit" wine "$@" </dev/null || rc=$?
  if [ "$rc" = 124 ] || [ "$rc" = 137 ]; then echo "wine ${1##*/}: hung, ended after $limit s" >&2; fi
  return "$rc"
}

# The tests are built too: the scripts run them, and a build folder once
# configured without them would otherwise keep that setting.
kv_build() {
  cmake -S "$KV_ROOT" -B "$KV_BUILD" -G Ninja -DKV_BUILD_TESTS=ON \
    -DCMAKE_TOOLCHAIN_FILE="$KV_ROOT/cmake/mingw-clang.cmake" >/dev/null
  # The mingw linker warns about type-name sections that clang and the
  # prebuilt libstdc++ lay out differently ("duplicate section ... has
  # different size"); they are harmless and drown the real diagnostics.
  cmake --build "$KV_BUILD" "$@" 2>&1 | grep -v "duplicate section" ; return "${PIPESTATUS[0]}"
}

# The Windows form of a Unix path. The prefix maps Z: to / unless somebody
# changed it; only then is winepath (one more Wine process) needed.
kv_windows_path() {
  if [ "$(readlink "$WINEPREFIX/dosdevices/z:" 2>/dev/null)" = / ]; then
    printf 'Z:%s\n' "${1//\//\\}"
  else
    winepath -w "$1" 2>/dev/null | tr -d '\r'
  fi
}

# Imports a .reg file into the prefix. An import has been seen to fail once
# for no reason that came back, so a failed import is tried twice more; each
# failure shows reg.exe's exit code and what it or Wine said, and the last one
# is the caller's to report.
kv_reg_import() {
  local file=$1 win out rc try
  win=$(kv_windows_path "$file")
  [ -n "$win" ] || { echo "no Windows path for $file" >&2; return 1; }
  for try in 1 2 3; do
    rc=0
    out=$(wine reg import "$win" 2>&1) || rc=$?
    [ "$rc" = 0 ] && return 0
    out=$(tr -d '\r' <<<"$out" | grep -v ':fixme:' | tail -3)
    echo "wine reg import $win (try $try): exit code $rc${out:+: $out}" >&2
    sleep 1
  done
  return 1
}

KV_WINESERVER_PID=
# A persistent wineserver for this run, so every program started below shares
# one server instead of starting its own. Stopped by kv_stop_wine.
kv_start_wine() {
  mkdir -p "$WINEPREFIX"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "preparing the Wine prefix $WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
  fi
  wineserver -p -f >/dev/null 2>&1 &
  KV_WINESERVER_PID=$!
  # Wait until the server answers.
  for _ in $(seq 1 50); do
    wine cmd /c exit >/dev/null 2>&1 && break
    sleep 0.2
  done
}

kv_stop_wine() {
  if [ -n "$KV_WINESERVER_PID" ] && kill -0 "$KV_WINESERVER_PID" 2>/dev/null; then
    # Ask the server to end its clients, then stop the server we started.
    wineserver -k >/dev/null 2>&1 || true
    kill "$KV_WINESERVER_PID" 2>/dev/null || true
    wait "$KV_WINESERVER_PID" 2>/dev/null || true
  fi
  KV_WINESERVER_PID=
}

KV_CUPS_STARTED=
# The private CUPS scheduler with the project's printers (scripts/cups-harness),
# and its environment in this shell: every Wine process started from here on
# sees the printers. Wine deletes the printers from the prefix when a process
# loads winspool.drv without reaching the scheduler, so keep the environment
# for every Wine process until kv_stop_cups.
kv_start_cups() {
  # Marked first, so that kv_stop_cups also cleans up after a start that failed
  # or was interrupted half-way.
  KV_CUPS_STARTED=1
  "$KV_ROOT/scripts/cups-harness" start || return 1
  # shellcheck source=/dev/null
  . "$KV_BUILD/cups/env"
}

kv_stop_cups() {
  if [ -n "$KV_CUPS_STARTED" ]; then
    "$KV_ROOT/scripts/cups-harness" stop || true
  fi
  KV_CUPS_STARTED=
  unset CUPS_SERVER KV_CUPS_PRINTERS KV_CUPS_CONNECTION KV_CUPS_CONNECTIONS KV_CUPS_PPD_DIR KV_CUPS_DEVMODE_0401
}

# Stores the capability record of every printer of the running harness as
# DIR/PRINTER.kvp: one run of kvclient.exe -q with cache method 4 into DIR.
# The cache settings are removed again afterwards.
kv_store_records() {
  local dir=$1 win rc=0
  win=$(kv_windows_path "$dir")
  [ -n "$win" ] || { echo "no Windows path for $dir" >&2; return 1; }
  printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel\\Corvane Printing]\n"CachePath"="%s\\\\"\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel\\Corvane Printing\\Printers]\n"CacheMethod"=dword:00000004\n' \
    "${win//\\/\\\\}" >"$dir/cache.reg"
  if kv_reg_import "$dir/cache.reg"; then
    # Exit code 1: the command line was processed.
    wine "$KV_BUILD/kvclient.exe" -q >"$dir/kvclient.out" 2>&1 || rc=$?
    [ "$rc" = 1 ] || echo "kvclient.exe -q exited with $rc" >&2
  fi
  wine reg delete 'HKLM\SOFTWARE\Vantrel\Corvane Printing\Printers' /v CacheMethod /f >/dev/null 2>&1 || true
  wine reg delete 'HKLM\SOFTWARE\Vantrel\Corvane Printing' /v CachePath /f >/dev/null 2>&1 || true
  [ "$rc" = 1 ]
}

# Headless Chromium with the given arguments and a profile of its own in
# PROFILE (it runs as root here, so without its sandbox), its messages
# appended to PROFILE.log; stopped by its pid when it has not ended after a
# minute.
kv_chromium() {
  local profile=$1 pid i
  shift
  chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --user-data-dir="$profile" "$@" \
    2>>"$profile.log" &
  pid=$!
  for i in $(seq 1 600); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$pid" 2>/dev/null; then
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    echo "chromium $*: still running after a minute, stopped" >&2
    return 1
  fi
  wait "$pid"
}
