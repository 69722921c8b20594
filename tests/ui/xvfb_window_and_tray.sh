#!/usr/bin/env bash
# Starts the real program on a virtual X display next to a tray host and
# checks that its window opens, centred at its standard size, and that its
# icon is embedded in the tray. Usage: xvfb_window_and_tray.sh PROGRAM
set -euo pipefail
program=$1

if [ -z "${QB_UNDER_XVFB:-}" ]; then
  for tool in xvfb-run trayer xwininfo; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool missing"; exit 77; }
  done
  QB_UNDER_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$@"
fi

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A copy with its own settings file: never the build's.
cp "$program" "$work/Quillbarrow"
printf 'sourcePath=/srv/photos/\r\n' > "$work/Quillbarrow.qzt"

trayer --edge top --align right --widthtype pixel --width 60 --heighttype pixel --height 24 &
pids+=($!)
unset QT_QPA_PLATFORM
(cd "$work" && exec ./Quillbarrow) &
pids+=($!)

# (1280 - 940) / 2 = 170, (800 - 640) / 2 = 80: centred for 640, then 500 high.
window_shown() {
  grep -q '"文件批量重命名2.1": ("Quillbarrow" "Quillbarrow")  940x500+170+80' <<<"$tree"
}
# The tray host embeds the icon's window below its panel.
icon_embedded() {
  awk '/"panel"/ {inpanel=1; next} inpanel && /^     0x/ {inpanel=0}
       inpanel && /"Quillbarrow"/ {found=1} END {exit !found}' <<<"$tree"
}

tree=""
for _ in $(seq 1 150); do
  tree=$(xwininfo -root -tree 2>/dev/null || true)
  window_shown && icon_embedded && break
  sleep 0.1
done
echo "$tree"

status=0
window_shown || { echo "FAIL: main window not shown at 940x500+170+80"; status=1; }
icon_embedded || { echo "FAIL: tray icon not embedded in the tray host"; status=1; }
[ $status -eq 0 ] && echo "window and tray icon: ok"
exit $status
