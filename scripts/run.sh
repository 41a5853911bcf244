#!/usr/bin/env bash
# Builds the 64-bit Windows program and runs it under Wine from the folder
# run/ of the work tree, with the stand-in tuner library beside it.
#
#   bash scripts/run.sh
#
# The program starts hidden in the notification area. Without a DISPLAY it
# runs on a virtual X server (Xvfb) that nobody sees.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
# shellcheck source=scripts/lib/deps.sh
source scripts/lib/deps.sh
# shellcheck source=scripts/lib/wine.sh
source scripts/lib/wine.sh

run() {
  echo "+ $*"
  "$@"
}

quorvane_install_deps
run cmake --preset win64
run cmake --build --preset win64 -j2 --target QuorvaneScheduler QuorvaneControl

program=build/win64/ui/QuorvaneScheduler.exe
standin=build/win64/tuner/standin/QuorvaneControl.dll
for built in "$program" "$standin"; do
  [[ -f $built ]] || {
    echo "error: $built was not built" >&2
    exit 1
  }
done

rundir=$root/run
mkdir -p "$rundir"
cp -f "$program" "$rundir/"
# The stand-in is refreshed on every run unless someone put another library
# (a real one) in its place.
if [[ ! -f $rundir/QuorvaneControl.dll ]] ||
  cmp -s "$rundir/QuorvaneControl.dll" "$rundir/.standin-copy" 2>/dev/null; then
  cp -f "$standin" "$rundir/QuorvaneControl.dll"
  cp -f "$standin" "$rundir/.standin-copy"
else
  echo "Keeping the QuorvaneControl.dll in run/ (not the stand-in)."
fi
# The user's channel names survive: the sample only goes in once.
[[ -f $rundir/CHANNEL.TXT ]] || cp resources/CHANNEL.TXT "$rundir/"

quorvane_wine_env
export WINEPREFIX=${XDG_DATA_HOME:-$HOME/.local/share}/quorvane-scheduler/wine
if [[ ! -f $WINEPREFIX/system.reg ]]; then
  echo "+ wineboot -i (first use of WINEPREFIX=$WINEPREFIX)"
  quorvane_prepare_prefix "$WINEPREFIX"
fi

QUORVANE_XVFB_PID=
program_pid=
# shellcheck disable=SC2317 # called by the trap
finish() {
  set +e
  if [[ -n $program_pid ]] && kill -0 "$program_pid" 2>/dev/null; then
    quorvane_stop_wineserver "$WINEPREFIX"
  fi
  if [[ -n $QUORVANE_XVFB_PID ]]; then
    # Let Wine's own processes end before their display goes away.
    timeout 20 "$QUORVANE_WINESERVER" -w >/dev/null 2>&1
    quorvane_stop_xvfb
  fi
}
trap finish EXIT
if [[ -z ${DISPLAY:-} ]]; then
  quorvane_start_xvfb
  echo "No DISPLAY: the program runs on the virtual display $DISPLAY (Xvfb)."
fi

cat <<EOF

Quorvane Scheduler is starting from $rundir
  It sits in the notification area (tray); a left click on the icon shows it.
  Schedule file:  run/QuorvaneScheduler.ini
  Channel names:  run/CHANNEL.TXT
  Recordings:     run/ for file names without a folder
  Wine prefix:    $WINEPREFIX
  To stop it: its Exit button (終了), a right click on the tray icon, or Ctrl-C here
  (which runs: WINEPREFIX=$WINEPREFIX wineserver -k).

EOF

# In the background, so that Ctrl-C reaches the trap even while Wine ignores
# the signal.
cd "$rundir"
quorvane_wine ./QuorvaneScheduler.exe &
program_pid=$!
trap 'echo " stopping"; quorvane_stop_wineserver "$WINEPREFIX"' INT TERM
# wait returns early when a signal arrives; wait again until it has ended.
status=0
while kill -0 "$program_pid" 2>/dev/null; do
  if wait "$program_pid"; then status=0; else status=$?; fi
done
program_pid=
echo "Quorvane Scheduler ended (exit code $status)."
exit "$status"
