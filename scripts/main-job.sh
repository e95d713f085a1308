#!/usr/bin/env bash
# The main job: the real installer under Wine, from its first window to the launch of the
# setup program, against a local download server with a package built by our own tool.
# On a fresh Debian machine (as root) it first installs what it lacks and builds what it needs.
#
#   scripts/main-job.sh [--english] [--ask-stop] [--fail] [--dpi N] [--out DIR]
#
# --fail serves no package (the server answers 404), so the run ends with the failure box that
# names the run's log; the box stays on screen for a screenshot.
#
# --ask-stop presses the cancel button half-way through the download and answers the stop
# question with No (after a screenshot of it), so the installation goes on.
#
# --dpi N runs it with the screen at N DPI (Wine's LogPixels: 96, 144 for 150 %, 192 for 200 %);
# the prefix goes back to 96 afterwards.
#
# It prints the trace lines, the status line and the progress line as they change, and leaves
# a screenshot of each stage in DIR (default out/main-job), with the dialog alone, cut from the
# screen, once the progress line tells speed and time left ("downloading-dialog.png").
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

language=0
ask_stop=0
fail=0
dpi=96
out="$root/out/main-job"
while [ $# -gt 0 ]; do
  case "$1" in
    --english) language=1 ;;
    --vietnamese) language=0 ;;
    --ask-stop) ask_stop=1 ;;
    --fail) fail=1 ;;
    --dpi) dpi=$2; shift ;;
    --out) out=$2; shift ;;
    --inside) shift; break ;;
    *) echo "usage: $0 [--english|--vietnamese] [--ask-stop] [--fail] [--dpi N] [--out DIR]" >&2; exit 2 ;;
  esac
  shift
done

if [ "${ZUNO_MAIN_JOB_INSIDE:-}" != "1" ]; then
  scripts/ensure-deps.sh
  # The oldest setup the installer starts: the demo setup is 2.1.0.0 (its older build, 1.9.0.0,
  # is what the tests show refused). The installer is the release build (release/), signed
  # with the build's test key as the maker's would be with theirs.
  signing="$root/build/windows/signing"
  cmake --preset windows -DZUNO_MIN_SETUP_VERSION=2.0.0.0 \
    -DZUNO_SIGNING_KEY="$signing/signer.key" -DZUNO_SIGNING_CERT="$signing/signer.crt" >/dev/null
  cmake --build --preset windows --target release signed_demo_setups driver
  cmake --preset host >/dev/null
  cmake --build --preset host --target zuno-pack
  if [ "$(id -u)" -ne 0 ]; then
    echo "main-job: needs root for its private network namespace" >&2
    exit 1
  fi
  rm -rf "$out"
  mkdir -p "$out/www"
  # The package of the demo setup program, signed with the key this build pins (the maker's
  # key in a release build), as the download server publishes it.
  build/host/zuno-pack build build/windows/tests/signed/demo_setup-signer.exe "$out/www/OG3tup2015.exe"
  cp "$out/www/OG3tup2015.exe" "$out/www/OG3tup2015X64.exe"
  # Nothing published: every mode gets 404 and the run ends with the failure box.
  [ "$fail" = 1 ] && rm "$out/www/OG3tup2015.exe" "$out/www/OG3tup2015X64.exe"
  tests/harness/wine-env.sh build/windows/wine down
  export ZUNO_MAIN_JOB_INSIDE=1
  [ -n "${DISPLAY:-}" ] && export ZUNO_DISPLAY="$DISPLAY"
  exec tests/harness/netns.sh "$0" --out "$out" --dpi "$dpi" $([ "$language" = 1 ] && echo --english) \
    $([ "$ask_stop" = 1 ] && echo --ask-stop) $([ "$fail" = 1 ] && echo --fail)
fi

# Inside the private network: download.zuno.example is 127.0.0.1 here.
state="$root/build/windows/wine"
desktop_key='HKCU\Control Panel\Desktop'
machine_env='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
cleanup() {
  wine reg delete "$desktop_key" /v LogPixels /f >/dev/null 2>&1 || true
  wine reg delete "$machine_env" /v ZUNO_DEMO_SECONDS /f >/dev/null 2>&1 || true
  tests/harness/static-server.sh stop "$out/server"
  tests/harness/wine-env.sh "$state" down
}
trap cleanup EXIT

# Slowed down so that the status line's stages can be watched.
tests/harness/static-server.sh start "$out/server" 127.0.0.1:80 "$out/www" "${ZUNO_MAIN_JOB_RATE:-160k}"

eval "$(tests/harness/wine-env.sh "$state" env)"
wine reg add 'HKLM\SOFTWARE\Zuno' /v fGiaodien /t REG_DWORD /d "$language" /f /reg:32 >/dev/null 2>&1
# The screen's scale: a program reads it when it starts.
wine reg add "$desktop_key" /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
# The demo setup closes itself after 6 s: a machine variable, since the installer passes on
# none of its user's own.
wine reg add "$machine_env" /v ZUNO_DEMO_SECONDS /d 6 /f >/dev/null 2>&1

echo "main-job: download server http://download.zuno.example/ (nginx in a private network)"
echo "main-job: running ZunoOnlineSetup.exe under Wine on display $DISPLAY, language $language, $dpi DPI"
shot=0
# A screenshot a moment after the change, so that the window has been painted.
screenshot() {
  shot=$((shot + 1))
  local file
  file=$(printf '%s/%02d-%s.png' "$out" "$shot" "$1")
  (sleep "${2:-0.3}"; import -display "$DISPLAY" -window root "$file" 2>/dev/null || true) &
}
# The dialog alone, cut out of the screen (the desktop around it is one colour).
dialog_shot() {
  (sleep 0.3; import -display "$DISPLAY" -window root png:- 2>/dev/null |
    convert - -trim +repage "$out/downloading-dialog.png" 2>/dev/null || true) &
}
dialog_shot_taken=0
driver_options=(--timeout 120)
[ "$ask_stop" = 1 ] && driver_options+=(--stop-at-progress 40 --stop-answer no --answer-delay 1500)
[ "$fail" = 1 ] && driver_options+=(--answer-delay 1500)
status=0
# The lines are read as they come (a filter such as tr would hold them back in its buffer).
wine build/windows/tests/driver.exe "${driver_options[@]}" -- build/windows/release/ZunoOnlineSetup.exe </dev/null 2>/dev/null |
  while IFS= read -r line; do
    line=${line%$'\r'}
    echo "  $line"
    case "$line" in
      STATUS\ ?*) screenshot status ;;
      LINE\ *·*·*)
        if [ "$dialog_shot_taken" = 0 ]; then dialog_shot_taken=1; dialog_shot; fi ;;
      BOX\ *) screenshot box 0.5 ;;
      EXIT*) screenshot setup 1.5; sleep 2 ;;
    esac
  done || status=$?
echo "main-job: screenshots in $out"
ls "$out"/*.png 2>/dev/null | sed 's/^/  /'
exit $status
