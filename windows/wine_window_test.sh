#!/usr/bin/env bash
# The real Quillbarrow.exe from the portable zip, under Wine in a fresh
# prefix, in the Chinese locale, on the X display in DISPLAY next to a tray
# host, driven as a user would (keyboard focus and keys):
#   window title, its placement for the screen size Wine reports, the tray
#   icon, a second copy ending the first, a replace job on Chinese names, the
#   report in GBK with CR LF, Notepad started on it, the folder remembered in
#   GBK in the settings file, a folder linked to the top of drive C refused.
# Usage: wine_window_test.sh ZIP WINPROBE_EXE WORK_FOLDER
# Needs WINE, WINESERVER, DISPLAY, LANG=zh_CN.UTF-8 (and LOCPATH where that
# locale lives). Ends with "window test: N passed, N failed".
set -uo pipefail
zip=$1 probe=$2 work=$3
wine=${WINE:-wine64} wineserver=${WINESERVER:-wineserver}
title="文件批量重命名2.1"
report_name="包含内容并成功修改的文件目录.txt"

passed=0 failed=0
check() { # description, then the command that must succeed
  local what=$1; shift
  if "$@"; then
    echo "ok   - $what"; passed=$((passed + 1))
  else
    echo "FAIL - $what"; failed=$((failed + 1))
  fi
}
finish() {
  echo "window test: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit $?
}

rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)

# Nothing from the build: only what the zip holds, in a prefix of its own.
unset WINEPATH QT_PLUGIN_PATH QT_QPA_PLATFORM
export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
pids=()
cleanup() {
  "$wineserver" -k 2>/dev/null || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT
mkdir -p "$WINEPREFIX"
"$wineserver" -p30
"$wine" wineboot.exe --init >"$work/wineboot.log" 2>&1

unzip -q "$zip" -d "$work/app"
app=$(find "$work/app" -mindepth 1 -maxdepth 1 -type d | head -n1)
winpath() { printf 'Z:%s' "${1//\//\\}"; }
gbk() { iconv -f UTF-8 -t GBK; }

# The tree, and the settings file remembering it (GBK, as the program writes
# it), dated back so that a write by the program shows.
tree=$work/相册
mkdir -p "$tree/照片" "$tree/数据old"
printf 'a' >"$tree/旅行old.txt"
printf 'b' >"$tree/照片/old 说明.txt"
printf 'c' >"$tree/照片/不变.txt"
# The field as the folder dialog fills it: forward slashes, one at the end.
# The settings file remembers it without that "/", which the test types in,
# so that the job has a new text to write.
folder_text="Z:$tree/"
{ printf 'sourcePath='; printf '%s' "${folder_text%/}" | gbk; printf '\r\n'; } >"$app/Quillbarrow.qzt"
touch -d '2001-01-01 00:00' "$app/Quillbarrow.qzt"

probe_out() { "$wine" "$probe" 2>/dev/null | tr -d '\r'; }
# "window PID EXE VISIBLE LEFT TOP RIGHT BOTTOM CLIENTW CLIENTH TITLE"
main_window() { probe_out | awk -v t="$title" '$1 == "window" && $3 == "Quillbarrow.exe" && $4 == 1 && substr($0, index($0, $11)) == t'; }
program_pids() { probe_out | awk '$1 == "process" && $3 == "Quillbarrow.exe" {print $2}'; }
wait_for() { # seconds, command
  local limit=$1; shift
  for _ in $(seq 1 $((limit * 2))); do "$@" && return 0; sleep 0.5; done
  return 1
}

trayer --edge top --align right --widthtype pixel --width 60 --heighttype pixel --height 24 \
  >"$work/trayer.log" 2>&1 &
pids+=($!)
sleep 1
panel=$(xwininfo -root -tree | awk '/"panel"/ {print $1; exit}')
# Windows below the tray host's panel before any icon is there.
panel_windows() { xwininfo -id "$panel" -tree 2>/dev/null | grep -cE '^ +0x' || true; }
panel_before=$(panel_windows)

# --- the first copy ------------------------------------------------------------
(cd "$app" && exec "$wine" Quillbarrow.exe) >"$work/first.log" 2>&1 &
pids+=($!)
window_up() { [ -n "$(main_window)" ]; }
check "the window titled $title opens" wait_for 60 window_up
line=$(main_window | head -n1)
read -r _ first_pid _ _ left top right bottom client_w client_h _ <<<"$line"
read -r _ screen_w screen_h < <(probe_out | grep '^screen ')
# Centred for the form's 940 x 640, then made 500 high without moving.
want_left=$(( (screen_w - 940) / 2 )) want_top=$(( (screen_h - 640) / 2 ))
echo "     screen ${screen_w}x${screen_h}; window at $left,$top, client ${client_w}x${client_h}"
check "placed at ($want_left, $want_top) for the screen ${screen_w}x${screen_h}" \
  test "$left,$top" = "$want_left,$want_top"
# 940 wide; 500 high unless the form needs more in the fonts at hand (the
# window is never made smaller than its layout allows).
check "client area 940 wide and at least 500 high (${client_w}x${client_h})" \
  test "$client_w" = 940 -a "${client_h:-0}" -ge 500

tray_icon() { [ -n "$panel" ] && [ "$(panel_windows)" -gt "$panel_before" ]; }
check "the tray icon is embedded in the tray host" wait_for 20 tray_icon

# --- a second copy ends the first ----------------------------------------------
(cd "$app" && exec "$wine" Quillbarrow.exe) >"$work/second.log" 2>&1 &
pids+=($!)
first_gone() { local p; p=$(program_pids); [ -n "$p" ] && ! grep -qx "$first_pid" <<<"$p" && [ "$(wc -l <<<"$p")" -eq 1 ]; }
check "a second copy ends the first (one copy left, not the first)" wait_for 30 first_gone
second_window() { main_window | awk -v p="$first_pid" '$2 != p' | grep -q .; }
check "the second copy shows its window" wait_for 60 second_window

# --- a replace job through the window --------------------------------------------
# Keyboard only: the tab bar holds the focus when the window opens; the
# folder field is the 2nd stop after it, the find text and its replacement
# the 6th and 7th, the replace button the 8th.
xwindow=$(xdotool search --name "$title" 2>/dev/null | tail -n1)
if [ -n "$xwindow" ]; then
  # No window manager: the focus is set directly.
  xdotool windowfocus --sync "$xwindow" 2>/dev/null || true
  sleep 1
  xdotool key --delay 150 Tab Tab End
  xdotool type --delay 120 /
  xdotool key --delay 150 Tab Tab Tab Tab
  xdotool type --delay 120 old
  xdotool key --delay 150 Tab
  xdotool type --delay 120 new
  sleep 1
  import -window "$xwindow" "$work/mainwindow-wine.png" 2>/dev/null || true
  touch "$work/before-job"
  sleep 1
  xdotool key --delay 150 Tab space
fi
check "the window is found on the X display" test -n "$xwindow"
[ -e "$work/before-job" ] || touch "$work/before-job"

report=$tree/$report_name
report_there() { [ -f "$report" ]; }
check "the job writes the rename report" wait_for 30 report_there
renamed() {
  [ -f "$tree/旅行new.txt" ] && [ -f "$tree/照片/new 说明.txt" ] && [ -f "$tree/照片/不变.txt" ] \
    && [ -d "$tree/数据new" ] && [ ! -e "$tree/旅行old.txt" ] && [ ! -e "$tree/数据old" ]
}
check "the tree with Chinese names is renamed" wait_for 10 renamed
expected_report() {
  local r; r=$(winpath "$tree")
  printf '%s\r\n' "$r\\旅行old.txt" "$r\\照片\\old 说明.txt" "$r\\数据old" | gbk
}
check "the report holds GBK bytes, each line ended by CR LF" cmp -s "$report" <(expected_report)
if ! cmp -s "$report" <(expected_report); then od -c "$report" | head -n 8; fi

notepad_on_report() {
  probe_out | awk '$1 == "window" && $3 == "notepad.exe"' | grep -qF "${report_name%.txt}"
}
check "Notepad was started on the report" wait_for 30 notepad_on_report
settings_in_gbk() {
  cmp -s "$app/Quillbarrow.qzt" <({ printf 'sourcePath='; printf '%s' "$folder_text" | gbk; printf '\r\n'; }) \
    && [ "$app/Quillbarrow.qzt" -nt "$work/before-job" ]
}
check "the settings file holds the folder in GBK, written by the job" settings_in_gbk
if ! settings_in_gbk; then od -c "$app/Quillbarrow.qzt" | head -n 6; fi

# --- a folder that is a link to the top of drive C is refused --------------------
# Made on this side of the drive, where Wine shows it as a folder. A job
# there would rename the whole drive: the sentinel must keep its name, and
# the settings file must not learn the folder.
ln -sfn . "$WINEPREFIX/drive_c/qb-rootlink"
printf 's' >"$WINEPREFIX/drive_c/qb-sentinel old.txt"
mkdir -p "$WINEPREFIX/drive_c/qb-plain" && printf 'p' >"$WINEPREFIX/drive_c/qb-plain/old.txt"
cp "$app/Quillbarrow.qzt" "$work/settings-before-root"
root_refused() {
  [ -f "$WINEPREFIX/drive_c/qb-sentinel old.txt" ] && [ ! -e "$WINEPREFIX/drive_c/qb-sentinel new.txt" ] \
    && [ ! -e "$WINEPREFIX/drive_c/$report_name" ] && cmp -s "$app/Quillbarrow.qzt" "$work/settings-before-root"
}
plain_renamed() { [ -f "$WINEPREFIX/drive_c/qb-plain/new.txt" ]; }
# A folder as the folder dialog writes it ("/", one at the end: a trailing
# backslash is refused for itself). A fresh copy (it ends the one before),
# whose window opens with the focus
# on the tab bar, then the keys of the job above with another folder.
run_in() {
  local before; before=$(program_pids | tr '\n' ' ')
  (cd "$app" && exec "$wine" Quillbarrow.exe) >>"$work/more.log" 2>&1 &
  pids+=($!)
  new_window() { main_window | awk -v old=" $before" 'index(old, " " $2 " ") == 0' | grep -q .; }
  wait_for 60 new_window || return 1
  sleep 2
  xwindow=$(xdotool search --name "$title" 2>/dev/null | tail -n1)
  xdotool windowfocus --sync "$xwindow" 2>/dev/null || true
  sleep 1
  xdotool key --delay 150 Tab Tab ctrl+a
  xdotool type --delay 120 "$1"
  xdotool key --delay 150 Tab Tab Tab Tab
  xdotool type --delay 120 old
  xdotool key --delay 150 Tab
  xdotool type --delay 120 new
  sleep 1
  import -window "$xwindow" "$work/run-in-$2.png" 2>/dev/null || true
  xdotool key --delay 150 Tab space
}
if [ -n "$xwindow" ]; then
  run_in 'C:/qb-rootlink/' root
  sleep 5
fi
check "a folder linked to the top of drive C is refused: nothing renamed, nothing remembered" root_refused
# The same keys on a plain folder run the job: they do reach the field.
[ -n "$xwindow" ] && run_in 'C:/qb-plain/' plain
check "the same keys on a plain folder run the job" wait_for 30 plain_renamed

probe_out >"$work/probe-final.txt"
finish
