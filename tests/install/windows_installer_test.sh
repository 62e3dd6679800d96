#!/usr/bin/env bash
# The Windows installer as a user runs it, under Wine in a scratch prefix of its own:
#   1. a silent install into a scratch folder whose name holds a space;
#   2. the installed vespanode-cli.exe: --version, then pack and inspect an upgrade file;
#   3. the portable zip holds the same files as the installation;
#   4. a silent uninstall, and a restart, leave nothing behind: no folder, drive C as it was
#      before (so no Start-menu entry), no uninstall key;
#   5. installed again, with a user's file in the folder: the uninstall removes everything else
#      and leaves the user's file where it was.
# Every Wine step has a time limit and shows what it printed, and what Wine printed, when it fails.
#   windows_installer_test.sh WINE WINESERVER PACKAGE_DIR VERSION
set -euo pipefail
wine=$1 wineserver=$2 package=$(cd "$3" && pwd) version=$4
setup=$package/vespanode-setup-$version.exe
zip=$package/vespanode-$version-win64.zip
[[ -f $setup && -f $zip ]] || { echo "FAIL: no installer or zip for $version in $package" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/vespanode-setup.XXXXXX")
# A prefix and a home of the test's own, and no menu entries made for the desktop outside it.
export WINEPREFIX=$work/prefix HOME=$work/home WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
mkdir -p "$HOME"
cleanup() {
  timeout 30 "$wineserver" -w 2>/dev/null || "$wineserver" -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

step_limit=120 prefix_limit=300
install="$work/Program Files/Vespanode"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vespanode'
windows_path() { echo "Z:${1//\//\\}"; }

fail() {
  echo "FAIL: $*" >&2
  for file in "$work/step.out" "$work/wine.err"; do
    [[ -s $file ]] || continue
    echo "--- ${file##*/} (last 30 lines):" >&2
    tail -n 30 "$file" >&2
  done
  [[ -d $install ]] && { echo "--- the installation folder:" >&2; ls -la "$install" >&2; }
  exit 1
}
# step LIMIT WHAT COMMAND...: runs a Windows command, its output in step.out (carriage returns
# dropped), Wine's messages aside; fails the test when it fails or outlasts LIMIT seconds.
step() {
  local limit=$1 what=$2 status=0
  shift 2
  timeout -k 10 "$limit" "$wine" "$@" 2>>"$work/wine.err" | tr -d '\r' >"$work/step.out" ||
    status=$?
  ((status == 0)) || fail "$what: exit status $status$( ((status == 124)) && echo ", after $limit s")"
}
# Waits for every program in the prefix to end, the uninstaller's copy of itself included.
settle() {
  timeout "$step_limit" "$wineserver" -w || fail "Wine's programs did not end within $step_limit s"
}
# The installer takes /D= only unquoted, as the last word, spaces and all: through a batch file, as
# typed at a prompt, since Wine quotes every argument that holds a space.
silent_install() {
  printf '"%s" /S /D=%s\r\n' "$(windows_path "$setup")" "$(windows_path "$install")" \
    >"$work/install.bat"
  step "$step_limit" "$1" cmd /c "$(windows_path "$work/install.bat")"
  settle
}
menu_entries() { find "$WINEPREFIX/drive_c" -iname 'Vespanode*.lnk' | sort; }
# Whether the uninstall key is there: reg says 1 when it is not; anything else is a failure.
has_uninstall_key() {
  local status=0
  timeout "$step_limit" "$wine" reg query "$uninstall_key" >/dev/null 2>>"$work/wine.err" ||
    status=$?
  ((status <= 1)) || fail "reg query: exit status $status"
  return $status
}
listing() { (cd "$1" && find . -mindepth 1 | sort); }
# The prefix's drive C. NSIS's uninstaller runs from a copy of itself in the temp folder, which
# Windows deletes at the next restart but for the copy's empty folder: that folder is not counted.
drive_c() {
  find "$WINEPREFIX/drive_c" ! \( -type d -empty -path '*/Temp/~nsu*.tmp' \) | sort
}
# uninstalled WHAT: the uninstaller has ended and Windows restarted; drive C is as before the
# install, the uninstall key gone.
uninstalled() {
  settle
  step "$step_limit" "restarting Windows after $1" wineboot --restart
  settle
  drive_c >"$work/drive_c.after"
  diff "$work/drive_c.before" "$work/drive_c.after" >"$work/step.out" ||
    fail "$1 left drive C changed (step.out below: the diff)"
  ! has_uninstall_key || fail "$1 left the uninstall key"
}

step "$prefix_limit" "making the Wine prefix" wineboot --init
settle
drive_c >"$work/drive_c.before"

# 1. Installed, the folder holds the programs, the README and the uninstaller, and the machine
# knows where and which version.
silent_install "the silent install"
expected=$'./README.txt\n./uninstall.exe\n./vespanode-cli.exe\n./vespanode.exe'
[[ "$(listing "$install" 2>/dev/null)" == "$expected" ]] || fail "the installed files are not $expected"
[[ $(menu_entries | wc -l) -eq 1 ]] || fail "no Start-menu entry for the window"
step "$step_limit" "reading the uninstall key" reg query "$uninstall_key"
grep -q "DisplayVersion.*$version" "$work/step.out" || fail "the uninstall key lacks version $version"
grep -qF "UninstallString" "$work/step.out" || fail "the uninstall key lacks its command"

# 2. The installed command line works from its folder.
step "$step_limit" "vespanode-cli.exe --version" "$install/vespanode-cli.exe" --version
[[ "$(cat "$work/step.out")" == "vespanode-cli $version" ]] || fail "--version printed the above"
mkdir -p "$work/user"
head -c 65536 /dev/urandom >"$work/user/flash.img"
step "$step_limit" "vespanode-cli.exe pack" "$install/vespanode-cli.exe" pack --set key \
  --flash "$(windows_path "$work/user/flash.img")" -o "$(windows_path "$work/user/key.dld")" \
  --manufacture-ident VESPANODE-LAB --hardware-module VN-HW1 --hardware-version 1.00 \
  --software-module VN-SW1 --software-version 3.1.05
step "$step_limit" "vespanode-cli.exe inspect" "$install/vespanode-cli.exe" inspect \
  "$(windows_path "$work/user/key.dld")"
grep -q "3.1.05" "$work/step.out" || fail "inspect does not show the software version"

# 3. The zip's one folder holds the installed files, byte for byte, but the uninstaller.
mkdir "$work/zip"
(cd "$work/zip" && unzip -q "$zip") || fail "unzip"
unpacked=$work/zip/vespanode-$version-win64
[[ "$(listing "$unpacked")" == "$(grep -v uninstall.exe <<<"$expected")" ]] ||
  fail "the zip holds $(listing "$work/zip")"
for file in README.txt vespanode-cli.exe vespanode.exe; do
  cmp -s "$unpacked/$file" "$install/$file" || fail "the zip's $file differs from the installed one"
done

# 4. Uninstalled: nothing of ours stays.
step "$step_limit" "the silent uninstall" "$install/uninstall.exe" /S
uninstalled "the silent uninstall"
[[ ! -e $install ]] || fail "the installation folder is still there"

# 5. A user's file in the folder stays, and the folder with it; all else goes.
silent_install "the second silent install"
cp "$work/user/key.dld" "$install/key.dld"
step "$step_limit" "the second silent uninstall" "$install/uninstall.exe" /S
uninstalled "the second silent uninstall"
[[ "$(listing "$install" 2>/dev/null)" == "./key.dld" ]] ||
  fail "the folder should hold only the user's key.dld"
cmp -s "$work/user/key.dld" "$install/key.dld" || fail "the user's file changed"
echo "installer: install, --version, pack, inspect, zip and uninstall (twice) under Wine"
