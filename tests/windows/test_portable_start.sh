#!/usr/bin/env bash
# torvane.exe started as a user starts a portable copy: the program's folder (as the installer
# packs it) copied to a folder of its own, with a GBK myserver.db of six servers beside it.
# Its window must appear with its title, its list must stay beside it (no %APPDATA%\Torvane),
# and our tcping.exe must be written to %TEMP%. A screenshot of the display is saved.
#   test_portable_start.sh PROGRAM_FOLDER MAKE_SERVER_LIST_EXE SCREENSHOT
# Runs under the Wine prefix and display of its caller (scripts/test-windows).
set -euo pipefail
source "$(dirname "$0")/wait_for_window.sh"
stage=$1 make_list=$2 screenshot=$3
[ -x "$stage/torvane.exe" ] || { echo "no $stage/torvane.exe: build the installer target" >&2; exit 1; }
: "${WINEPREFIX:?}" "${DISPLAY:?}"

work=$(mktemp -d)
app_pid=""
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

cp -r "$stage" "$work/Torvane"
wine "$make_list" "Z:$work/Torvane/myserver.db" 6
# The user's folders, as Wine names them.
folder_of() { winepath -u "$(wine cmd /c echo "%$1%" | tr -d '\r')"; }
temp=$(folder_of TEMP)
appdata=$(folder_of APPDATA)
rm -rf "$appdata/Torvane" "$temp/tcping.exe"

(cd "$work/Torvane" && exec env -u TORVANE_HOME TORVANE_CLOUD_URL=http://127.0.0.1:1 \
    wine "Z:$work/Torvane/torvane.exe" >"$work/torvane.log" 2>&1) &
app_pid=$!
if ! wait_for_window "Torvane-服务器管理工具"; then
    echo "torvane.exe showed no window" >&2
    cat "$work/torvane.log" >&2
    exit 1
fi
# The list fills and the first probe pass writes tcping.exe; then the picture is taken.
for _ in $(seq 100); do
    [ -f "$temp/tcping.exe" ] && break
    sleep 0.2
done
sleep 2
import -window root "$screenshot"
echo "screenshot: $screenshot"

[ -f "$temp/tcping.exe" ] || { echo "tcping.exe was not written to %TEMP%" >&2; exit 1; }
[ ! -e "$appdata/Torvane" ] ||
    { echo "the list went to %APPDATA%\\Torvane instead of beside the program" >&2; exit 1; }
[ -f "$work/Torvane/myserver.db" ] || { echo "myserver.db is gone" >&2; exit 1; }
echo "torvane.exe showed its window with the list beside it"
