#!/usr/bin/env bash
# Checks the release as a user meets it, under Wine: builds dist/ with
# scripts/package.sh, then
#  - the installer runs silently, the installed Tavrin.exe starts and titles
#    itself, the registry holds the ".qz" association, opening a card-file
#    through that association while Tavrin runs hands it to the running
#    window, and the silent uninstaller leaves no file, association or Start
#    menu entry behind (the user's settings stay);
#  - the portable zip's Tavrin.exe starts from a folder with nothing else in
#    it and its tavrin.exe prints the version;
#  - the Linux tarball's tavrin prints the version.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash scripts/package.sh
version=$(sed -n 's/^project(Tavrin VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
title="Tavrin v$version"

# A Wine prefix of its own, made anew, so that nothing of an earlier run or
# of the other Windows tests can make a check pass.
export TAVRIN_WINEPREFIX="$root/build/release-wine"
rm -rf "$TAVRIN_WINEPREFIX"
. scripts/wine-env.sh
wine_env_start
work=$(mktemp -d)
cleanup() {
  wine taskkill /F /IM Tavrin.exe >/dev/null 2>&1 || true
  wine_env_stop
  rm -rf "$work" "$TAVRIN_WINEPREFIX"
}
trap cleanup EXIT

failures=0
check() {  # check "what" command...
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
# Waits up to 20 s for a top-level window with exactly this title.
window_titled() {
  for _ in $(seq 100); do
    xdotool search --onlyvisible --name "^$(printf '%s' "$1" | sed 's/[][\.*^$]/\\&/g')\$" >/dev/null 2>&1 && return 0
    sleep 0.2
  done
  return 1
}
winpath() { wine winepath -w "$1" 2>/dev/null | tr -d '\r'; }
unixpath() { wine winepath -u "$1" 2>/dev/null | tr -d '\r'; }
reg_value() {  # reg_value KEY [VALUE]: the data of a value ("" = default), or nothing
  local out
  if [ -n "${2:-}" ]; then out=$(wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r') || return 1
  else out=$(wine reg query "$1" /ve 2>/dev/null | tr -d '\r') || return 1; fi
  printf '%s\n' "$out" | sed -n 's/^ *[^ ].*REG_[A-Z_]* *//p' | head -n 1
}
quit_tavrin() {
  wine taskkill /IM Tavrin.exe >/dev/null 2>&1 || true
  for _ in $(seq 50); do xdotool search --onlyvisible --name "^$title" >/dev/null 2>&1 || return 0; sleep 0.2; done
  wine taskkill /F /IM Tavrin.exe >/dev/null 2>&1 || true
}

# --- the installer ----------------------------------------------------------------------------
build/release-linux/bin/tavrin new "$work/Handed Over.qz" --name HANDED >/dev/null
wine reg add 'HKCU\Software\Veltrovana\Tavrin' /v LastCardPath /d 'C:\cards' /f >/dev/null 2>&1

# install_round MODE HIVE PROGRAMS: a silent install for the current user
# (MODE "") or for all users (MODE /AllUsers), every check, and the silent
# uninstall. HIVE holds its registry keys, PROGRAMS is the Start menu folder.
install_round() {
  local mode=$1 hive=$2 programs=$3 who=${1:-/CurrentUser}
  local classes="$hive\\Software\\Classes"
  local uninstall_key="$hive\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tavrin"
  check "$who: silent install ends with 0" wine "dist/Tavrin-$version-setup.exe" /S $mode
  local instdir inst_unix startmenu
  instdir=$(reg_value "$uninstall_key" InstallLocation || true)
  echo "$who: installed in $instdir"
  inst_unix=$(unixpath "$instdir")
  startmenu=$(unixpath "$(wine cmd /c "echo $programs" 2>/dev/null | tr -d '\r')\\Microsoft\\Windows\\Start Menu\\Programs")
  check "$who: program files installed" \
    test -f "$inst_unix/Tavrin.exe" -a -f "$inst_unix/cli/tavrin.exe" -a -f "$inst_unix/Uninstall.exe"
  check "$who: association .qz -> Tavrin.Card" test "$(reg_value "$classes\\.qz" || true)" = "Tavrin.Card"
  check "$who: file type named \"Tavrin Card\"" test "$(reg_value "$classes\\Tavrin.Card" || true)" = "Tavrin Card"
  check "$who: open command passes the path" \
    test "$(reg_value "$classes\\Tavrin.Card\\shell\\open\\command" || true)" = "\"$instdir\\Tavrin.exe\" \"%1\""
  check "$who: Start menu entry" test -f "$startmenu/Tavrin.lnk"
  check "$who: installed tavrin.exe prints the version" \
    test "$(wine "$inst_unix/cli/tavrin.exe" --version 2>/dev/null | tr -d '\r')" = "tavrin $version"

  (cd "$work" && wine "$inst_unix/Tavrin.exe" >/dev/null 2>&1 &)
  check "$who: installed Tavrin.exe titles itself" window_titled "$title - Unnamed"
  # Wine's HKEY_CLASSES_ROOT shows only the machine-wide classes, so a
  # card-file opened as Explorer opens it reaches the per-machine install.
  if [ "$mode" = /AllUsers ]; then
    check "$who: opening a card-file through the association" \
      wine start /wait "$(winpath "$work/Handed Over.qz")"
    check "$who: the running window took the card-file" window_titled "$title - Handed Over"
    check "$who: one Tavrin window" test "$(xdotool search --onlyvisible --name "^$title" 2>/dev/null | wc -l)" = 1
  fi
  quit_tavrin

  # The uninstaller copies itself away and runs from there: wait for it.
  wine "$inst_unix/Uninstall.exe" /S >/dev/null 2>&1 || true
  for _ in $(seq 150); do [ -e "$inst_unix" ] || break; sleep 0.2; done
  sleep 1
  check "$who: uninstall removes the install folder" test ! -e "$inst_unix"
  check "$who: uninstall removes the association" \
    bash -c "! wine reg query '$classes\\.qz' >/dev/null 2>&1 && ! wine reg query '$classes\\Tavrin.Card' >/dev/null 2>&1"
  check "$who: uninstall removes the Start menu entry" test ! -e "$startmenu/Tavrin.lnk"
  check "$who: uninstall removes its entry in the installed programs" \
    bash -c "! wine reg query '$uninstall_key' >/dev/null 2>&1"
  check "$who: the user's settings stay" \
    test "$(reg_value 'HKCU\Software\Veltrovana\Tavrin' LastCardPath || true)" = 'C:\cards'
}
install_round "" HKCU '%APPDATA%'
install_round /AllUsers HKLM '%ProgramData%'
wine reg delete 'HKCU\Software\Veltrovana' /f >/dev/null 2>&1 || true

# --- the portable zip -------------------------------------------------------------------------
mkdir -p "$work/zip"
(cd "$work/zip" && unzip -q "$root/dist/Tavrin-$version-windows.zip")
portable="$work/zip/Tavrin-$version-windows"
check "zip's tavrin.exe prints the version" \
  test "$(wine "$portable/cli/tavrin.exe" --version 2>/dev/null | tr -d '\r')" = "tavrin $version"
(cd "$portable" && wine "$portable/Tavrin.exe" >/dev/null 2>&1 &)
check "zip's Tavrin.exe starts from its own folder" window_titled "$title - Unnamed"
quit_tavrin

# --- the Linux tarball ------------------------------------------------------------------------
dist_tool="$work/linux"
mkdir -p "$dist_tool"
tar -C "$dist_tool" -xzf "dist/tavrin-$version-linux-x86_64.tar.gz"
check "Linux tavrin prints the version" \
  test "$("$dist_tool/tavrin-$version-linux-x86_64/tavrin" --version)" = "tavrin $version"

ls -l dist
if [ "$failures" -ne 0 ]; then
  echo "release check: $failures failed"
  exit 1
fi
echo "release check: all passed"
