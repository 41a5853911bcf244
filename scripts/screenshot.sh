#!/usr/bin/env bash
# Takes docs/screenshot.png: the dialog under Wine (code page 932) in a
# virtual desktop, with a task that has just started and two waiting ones.
# Needs a built win64 tree (cmake --preset win64 && cmake --build --preset win64).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build/win64}
work=$(mktemp -d)
display=:57
trap 'WINEPREFIX=$work/prefix /usr/lib/wine/wineserver -k 2>/dev/null || true; kill $xvfb 2>/dev/null || true; rm -rf "$work"' EXIT

Xvfb $display -screen 0 800x600x24 >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=$display WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
LC_ALL=ja_JP.UTF-8 /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
/usr/lib/wine/wineserver -w

mkdir "$work/run"
cp "$build/ui/QuorvaneScheduler.exe" "$build/tuner/standin/QuorvaneControl.dll" "$work/run/"
cp "$top/resources/CHANNEL.TXT" "$work/run/"
python3 - "$work/run/QuorvaneScheduler.ini" <<'PY'
import datetime, sys
now = datetime.datetime.now()
def fields(t):
    return [str(t.year)] + ['%02d' % v for v in (t.month, t.day, t.hour, t.minute, t.second)]
rows = []
start = now - datetime.timedelta(seconds=30)
rows.append(fields(start) + fields(now + datetime.timedelta(minutes=30)) + ['みなと総合テレビ @27', ''])
evening = now.replace(hour=21, minute=0, second=0) + datetime.timedelta(days=1)
rows.append(fields(evening) + fields(evening + datetime.timedelta(minutes=54)) + ['さくらテレビ @22', 'ドラマ第5話.ts2'])
later = evening + datetime.timedelta(days=1, hours=-2)
rows.append(fields(later) + fields(later + datetime.timedelta(minutes=30)) + ['蓮沼ケーブル @C40', ''])
with open(sys.argv[1], 'wb') as out:
    out.write(b''.join('\t'.join(r).encode('cp932') + b'\r\n' for r in rows))
PY
cd "$work/run"
LC_ALL=ja_JP.UTF-8 /usr/lib/wine/wine64 explorer /desktop=shot,560x500 QuorvaneScheduler.exe >/dev/null 2>&1 &
sleep 5
# The tray icon sits at the right end of the virtual desktop's task bar.
xdotool mousemove 549 490 sleep 0.3 mousedown 1 sleep 0.2 mouseup 1 sleep 1.5 mousemove 300 10
sleep 0.5
import -window root -crop 560x500+0+0 "$top/docs/screenshot.png"
echo "wrote $top/docs/screenshot.png"
