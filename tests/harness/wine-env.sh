#!/usr/bin/env bash
# The build tree's own Wine environment. Every Windows program of the tests runs through it.
#
#   wine-env.sh STATE_DIR up            make the prefix once, start Xvfb and a wineserver
#   wine-env.sh STATE_DIR down          stop what `up` started
#   wine-env.sh STATE_DIR run EXE ARGS  run EXE under the prefix (brings the environment up first)
#   wine-env.sh STATE_DIR env           print the variables, for `eval`
#
# STATE_DIR holds the prefix (64-bit, with wine32 so 32-bit programs run under WoW64),
# the Xvfb display number and the logs. The user's ~/.wine is never touched.
set -euo pipefail

state=$(mkdir -p "$1" && cd "$1" && pwd)
cmd=${2:-run}
shift 2 || true

export WINEPREFIX="$state/prefix"
export WINEARCH=win64
export WINEDEBUG="${ZUNO_WINEDEBUG:--all}"
# No Mono or Gecko install prompts when the prefix is made.
export WINEDLLOVERRIDES="mscoree,mshtml="
# A private wineserver socket directory per state dir is not possible (Wine keys it by the
# prefix's inode), so the prefix itself is what keeps runs apart.

display_file="$state/display"

start_xvfb() {
  # A display of the caller's own (the main job on a desktop), used as it is.
  if [ -n "${ZUNO_DISPLAY:-}" ]; then
    export DISPLAY="$ZUNO_DISPLAY"
    return
  fi
  if [ -f "$display_file" ]; then
    read -r num pid <"$display_file" || true
    if [ -n "${pid:-}" ] && kill -0 "$pid" 2>/dev/null; then
      export DISPLAY=":$num"
      return
    fi
  fi
  # First free display number from 90 upwards.
  local n=90
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp -noreset >"$state/xvfb.log" 2>&1 &
  local xpid=$!
  for _ in $(seq 100); do
    [ -e "/tmp/.X11-unix/X$n" ] && break
    sleep 0.05
  done
  echo "$n $xpid" >"$display_file"
  export DISPLAY=":$n"
}

make_prefix() {
  [ -f "$WINEPREFIX/.zuno-ready" ] && return
  echo "wine-env: making the Wine prefix in $WINEPREFIX (once per build tree)" >&2
  rm -rf "$WINEPREFIX"
  wineboot -i >"$state/wineboot.log" 2>&1
  wineserver -w
  local reg="$state/prefix-settings.reg"
  cat >"$reg" <<'REG'
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Wine\Fonts]
"Path"="Z:\\usr\\share\\wine\\fonts"

[HKEY_CURRENT_USER\Software\Wine\Explorer]
"Desktop"="Default"

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]
"Default"="1024x768"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

REG
  wine regedit /S "$reg" >/dev/null 2>&1
  # Wine's Tahoma lacks the Vietnamese letters; they come from DejaVu Sans through a font link.
  wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v Tahoma \
    /t REG_MULTI_SZ /d 'DejaVuSans.ttf,DejaVu Sans' /f >/dev/null 2>&1
  # The DejaVu font lives outside Wine's font folder; give Wine a copy it scans.
  if [ -f /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf ]; then
    cp /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
  fi
  wineserver -w
  touch "$WINEPREFIX/.zuno-ready"
}

up() {
  exec 9>"$state/.lock"
  flock 9
  # The display comes first: the prefix's first start opens windows of its own.
  start_xvfb
  make_prefix
  # Keep one wineserver alive across the run: each start otherwise costs a cold server.
  # It answers non-zero when one already runs for this prefix.
  if wineserver -p60 </dev/null >/dev/null 2>&1; then
    # The first program of a wineserver's life starts the system processes (services.exe,
    # winedevice.exe, ...), which live as long as the server and inherit that program's
    # output. Started here with output going nowhere, they never hold a test's pipe open.
    wine cmd.exe /c exit 0 </dev/null >/dev/null 2>&1 || true
  fi
  start_desktop
  flock -u 9
}

# The virtual desktop lives as long as the wineserver: started here for the same reason.
start_desktop() {
  local pid_file="$state/desktop.pid"
  if [ -f "$pid_file" ] && kill -0 "$(cat "$pid_file")" 2>/dev/null; then return; fi
  wine explorer /desktop=Default,1024x768 </dev/null >/dev/null 2>&1 &
  echo $! >"$pid_file"
}

down() {
  wineserver -k 2>/dev/null || true
  rm -f "$state/desktop.pid"
  if [ -f "$display_file" ]; then
    read -r _ pid <"$display_file" || true
    [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null || true
    rm -f "$display_file"
  fi
}

case "$cmd" in
  up) up ;;
  down) down ;;
  env)
    up
    printf 'export WINEPREFIX=%q WINEARCH=%q WINEDEBUG=%q WINEDLLOVERRIDES=%q DISPLAY=%q\n' \
      "$WINEPREFIX" "$WINEARCH" "$WINEDEBUG" "$WINEDLLOVERRIDES" "$DISPLAY"
    ;;
  run)
    up
    exec wine "$@"
    ;;
  *) echo "wine-env: unknown command $cmd" >&2; exit 2 ;;
esac
