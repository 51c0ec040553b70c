#!/usr/bin/env bash
# The installer under Wine, in a Wine prefix of its own: installs silently into Program Files,
# starts the installed torvane.exe as a user who may not write there (so its list lives in
# %APPDATA%\Torvane), and uninstalls it again, which leaves that list alone.
#   test_installer.sh INSTALLER
# Runs on its caller's display. Wine does not keep users out of Program Files; the folder is
# made read-only on the host instead. Root may write anywhere, so as root every Wine step runs
# as the unprivileged user "nobody".
set -euo pipefail
source "$(dirname "$0")/wait_for_window.sh"
installer=$(realpath "$1")
[ -f "$installer" ] || { echo "no $installer: build the installer target" >&2; exit 1; }
: "${DISPLAY:?}"

work=$(mktemp -d)
as_user=()
if [ "$(id -u)" -eq 0 ]; then
    as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
    chown nobody:nogroup "$work"
fi
export WINEPREFIX="$work/prefix" HOME="$work" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
run() { "${as_user[@]}" "$@"; }
installed="$WINEPREFIX/drive_c/Program Files/Torvane"
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Torvane-服务器管理工具.lnk"
app_pid=""
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
    run wineserver -k 2>/dev/null || true
    chmod -R u+w "$work" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "test_installer: $*" >&2
    exit 1
}

run wineboot -i >/dev/null 2>&1
run wine "$installer" /S
for f in torvane.exe Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll libstdc++-6.dll platforms/qwindows.dll \
    translations/qtbase_zh_CN.qm qt.conf uninstall.exe; do
    [ -f "$installed/$f" ] || fail "$f was not installed"
done
[ -f "$shortcut" ] || fail "no Start-menu shortcut"
run wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Torvane' >/dev/null ||
    fail "not among the installed programs"

# Program Files as a user sees it: read-only.
chmod -R a-w "$installed"
(exec "${as_user[@]}" env TORVANE_CLOUD_URL=http://127.0.0.1:1 \
    wine "C:\\Program Files\\Torvane\\torvane.exe" >"$work/torvane.log" 2>&1) &
app_pid=$!
wait_for_window "Torvane-服务器管理工具" ||
    { cat "$work/torvane.log" >&2; fail "the installed program showed no window"; }
list=("$WINEPREFIX"/drive_c/users/*/AppData/Roaming/Torvane/myserver.db)
for _ in $(seq 50); do
    [ -f "${list[0]}" ] && break
    sleep 0.2
    list=("$WINEPREFIX"/drive_c/users/*/AppData/Roaming/Torvane/myserver.db)
done
[ -f "${list[0]}" ] || fail "no myserver.db in %APPDATA%\\Torvane"
[ ! -e "$installed/myserver.db" ] || fail "the list was written into Program Files"
kill "$app_pid"
wait "$app_pid" 2>/dev/null || true
app_pid=""

chmod -R u+w "$installed"
run wine "C:\\Program Files\\Torvane\\uninstall.exe" /S
# The uninstaller goes on from a copy of itself after this one has ended.
for _ in $(seq 150); do
    [ ! -e "$installed" ] && break
    sleep 0.2
done
[ ! -e "$installed" ] || fail "Program Files\\Torvane is still there: $(ls "$installed")"
[ ! -e "$shortcut" ] || fail "the Start-menu shortcut is still there"
! run wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Torvane' \
    >/dev/null 2>&1 || fail "still among the installed programs"
[ -f "${list[0]}" ] || fail "uninstalling removed the user's list"
echo "test_installer: installed, started with its list in %APPDATA%\\Torvane, uninstalled"
