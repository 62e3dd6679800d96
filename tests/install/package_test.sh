#!/usr/bin/env bash
# The Debian package as a user makes and gets it: scripts/package, run as the README says in a
# fresh clone of the source, builds it; lintian finds neither error nor warning in it; it is
# unpacked into a scratch root, and the programs run from there: inspect, and a download into a
# virtual box started from the same root. As root this runs once as root and once as the user
# "nobody", for whom the program folder is read-only, as it is after a real installation; the
# window is started there too.
#   package_test.sh SOURCE_DIR VERSION
set -euo pipefail
source=$(cd "$1" && pwd -P) version=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/vespanode-package.XXXXXX")
chmod 755 "$work"
box_pid=
# Nothing here may fail: the scratch folder must go whatever state a failure left the box in.
cleanup() {
  if [[ -n "$box_pid" ]]; then
    kill "$box_pid" 2>/dev/null || true
    wait "$box_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# fresh_copy SOURCE DEST: what CI starts from, a clone of the committed tree, with the changes to
# tracked files not yet committed on top, so that a developer tests what they are working on.
# Untracked files stay out, as they would from CI. A source without git is copied, builds aside.
fresh_copy() {
  local from=$1 to=$2
  if [[ $(git -C "$from" rev-parse --show-toplevel 2>/dev/null) == "$from" ]]; then
    git clone --quiet "$from" "$to" || fail "git clone $from"
    git -C "$from" diff --binary HEAD >"$work/uncommitted.diff"
    if [[ -s $work/uncommitted.diff ]]; then
      git -C "$to" apply --binary "$work/uncommitted.diff" || fail "the uncommitted changes"
      echo "the clone carries the uncommitted changes to tracked files"
    fi
  else
    mkdir -p "$to"
    tar -C "$from" --exclude='./build*' --exclude=./.git -cf - . | tar -C "$to" -xf - ||
      fail "copying $from"
  fi
}

fresh="$work/source"
fresh_copy "$source" "$fresh"
# Exactly the README's command, from the top of the copy; its own Release build, without tests.
(cd "$fresh" && scripts/package) >"$work/package.log" 2>&1 ||
  { tail -n 60 "$work/package.log"; fail "scripts/package in a fresh clone"; }
deb=$(ls "$fresh"/build/release/vespanode_"$version"_*.deb) ||
  fail "scripts/package left no build/release/vespanode_${version}_*.deb"
grep -q "^build/release/vespanode_${version}_" "$work/package.log" ||
  fail "scripts/package does not name its package: $(tail -n 5 "$work/package.log")"

listing=$(dpkg-deb --contents "$deb" | awk '{print $6}')
for path in usr/bin/vespanode usr/bin/vespanode-cli usr/bin/vespanode-box \
  usr/share/man/man1/vespanode.1.gz usr/share/man/man1/vespanode-cli.1.gz \
  usr/share/man/man1/vespanode-box.1.gz usr/share/applications/vespanode.desktop \
  usr/share/icons/hicolor/scalable/apps/vespanode.svg \
  usr/share/bash-completion/completions/vespanode-cli \
  usr/share/doc/vespanode/README.Debian usr/share/doc/vespanode/60-vespanode-serial.rules; do
  grep -qx "\./$path" <<<"$listing" || fail "the package lacks /$path"
done
depends=$(dpkg-deb --field "$deb" Depends)
grep -q libqt6widgets6 <<<"$depends" || fail "Depends lacks Qt: $depends"
# --http's server is Debian's shared cpp-httplib: without it the installed program does not start.
grep -q libcpp-httplib <<<"$depends" || fail "Depends lacks cpp-httplib: $depends"
# Debian's own checker, warnings included; its notes (the "I:" lines) are advice, except the
# hardening ones: every program is built with fortify, the stack protector, full RELRO and PIE.
if command -v lintian >/dev/null; then
  lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 ||
    { cat "$work/lintian.log"; fail "lintian"; }
  lintian --display-info "$deb" >"$work/lintian-hardening.log" 2>&1 || true
  if grep -E '^[EWIP]: .*hardening-' "$work/lintian-hardening.log"; then
    fail "lintian finds the programs without the distribution's hardening"
  fi
fi

root="$work/root"
dpkg -x "$deb" "$root"
bin="$root/usr/bin"
if command -v man >/dev/null; then
  MANWIDTH=80 man -l "$root/usr/share/man/man1/vespanode-cli.1.gz" 2>&1 | grep -q "^SYNOPSIS" ||
    fail "the installed man page does not render"
fi
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$root/usr/share/applications/vespanode.desktop"
fi

# exercise NAME [RUN-AS...]: the installed programs, run through RUN-AS, in a folder of their own.
exercise() {
  local name=$1
  shift
  local as=("$@") folder="$work/$name"
  mkdir -p "$folder"
  [[ ${#as[@]} -eq 0 ]] || chown nobody "$folder"
  # A clean runtime folder: the box announces itself there, the window keeps its socket there.
  local env=(env -u XDG_RUNTIME_DIR HOME="$folder" TMPDIR="$folder")

  [[ "$("${as[@]}" "$bin/vespanode-cli" --version)" == "vespanode-cli $version" ]] ||
    fail "$name: vespanode-cli --version"
  head -c 65536 /dev/urandom >"$folder/flash.img"
  "${as[@]}" "${env[@]}" "$bin/vespanode-cli" pack --set key --flash "$folder/flash.img" \
    -o "$folder/key.dld" --manufacture-ident VESPANODE-LAB --hardware-module VN-HW1 \
    --hardware-version 1.00 --software-module VN-SW1 --software-version 3.1.05 >/dev/null ||
    fail "$name: pack"
  "${as[@]}" "${env[@]}" "$bin/vespanode-cli" inspect "$folder/key.dld" >/dev/null ||
    fail "$name: inspect"

  : >"$folder/box.out"  # there before the box's shell opens it, for the loop below to read
  "${as[@]}" "${env[@]}" "$bin/vespanode-box" --quiet --sessions 1 >"$folder/box.out" &
  box_pid=$!
  local pty=
  for _ in $(seq 400); do
    pty=$(sed -n 's/^pty: //p' "$folder/box.out")
    [[ -n "$pty" ]] && break
    kill -0 "$box_pid" 2>/dev/null || break
    sleep 0.05
  done
  [[ -n "$pty" ]] || fail "$name: the virtual box did not start"
  "${as[@]}" "${env[@]}" "$bin/vespanode-cli" ports | grep -q "$pty" ||
    fail "$name: ports does not list the virtual box"
  local out
  out=$("${as[@]}" "${env[@]}" "$bin/vespanode-cli" download --port "$pty" "$folder/key.dld") ||
    fail "$name: download: $out"
  grep -q "^Update Success!$" <<<"$out" || fail "$name: download did not succeed: $out"
  wait "$box_pid" || fail "$name: the virtual box failed"
  box_pid=

  # The window from its read-only folder: still running after a few seconds means it came up.
  if [[ ${#as[@]} -gt 0 || $(id -u) -ne 0 ]]; then
    local status=0
    "${as[@]}" "${env[@]}" QT_QPA_PLATFORM=offscreen timeout 3 "$bin/vespanode" \
      >"$folder/window.log" 2>&1 || status=$?
    [[ $status -eq 124 ]] || { cat "$folder/window.log"; fail "$name: the window ended ($status)"; }
  fi
  echo "$name: inspect, download and window from the installed files"
}

exercise "$(id -un)"
if [[ $(id -u) -eq 0 ]]; then
  chmod -R go-w "$root"
  exercise nobody setpriv --reuid=nobody --regid=nogroup --clear-groups
fi
