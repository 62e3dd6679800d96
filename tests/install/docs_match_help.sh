#!/usr/bin/env bash
# The man pages and the bash completion against what the programs themselves say: every option
# that --help shows is documented and completed, nothing documented or completed is unknown to
# the program, --version prints the build's version, and a mistaken option exits 2.
#   docs_match_help.sh BIN_DIR SOURCE_DIR MAN_DIR VERSION
set -uo pipefail
export LC_ALL=C
bin=$1 source=$2 man=$3 version=$4
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

options_in() { grep -oE -- '(^|[ ,])--[a-z][a-z-]*' | grep -oE -- '--[a-z-]+' | sort -u; }
# Options a man page names in bold: **--port**.
man_options() { grep -oE -- '\*\*--[a-z][a-z-]*\*\*' "$1" | tr -d '*' | sort -u; }

# compare WHAT EXPECTED_LIST ACTUAL_LIST: both directions.
compare() {
  local missing extra
  missing=$(comm -23 <(echo "$2") <(echo "$3") | tr '\n' ' ')
  extra=$(comm -13 <(echo "$2") <(echo "$3") | tr '\n' ' ')
  [[ -z "${missing// }" ]] || fail "$1 lacks: $missing"
  [[ -z "${extra// }" ]] || fail "$1 has options the program does not know: $extra"
}

cli_commands="download upload verify identify inspect pack extract ports report"

# --- versions and bad options ---
# (The window, vespanode, is built only with Qt.)
for program in vespanode-cli vespanode-box vespanode; do
  [[ -x "$bin/$program" ]] || continue
  [[ "$("$bin/$program" --version)" == "$program $version" ]] || fail "$program --version"
  QT_QPA_PLATFORM=offscreen "$bin/$program" --no-such-option >/dev/null 2>&1
  [[ $? -eq 2 ]] || fail "$program: a bad option does not exit 2"
done
if [[ -x "$bin/vespanode" ]]; then
  # Without any display, --help must answer before Qt looks for one.
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$bin/vespanode" --help 2>&1)
  [[ $? -eq 0 && "$out" == Usage:* ]] || fail "vespanode --help: $out"
fi

# --- man pages ---
cli_help=$( { "$bin/vespanode-cli" --help; for c in $cli_commands; do
  "$bin/vespanode-cli" "$c" --help; done; } | options_in)
compare "vespanode-cli.1" "$cli_help" "$(man_options "$source/docs/man/vespanode-cli.1.md")"
for program in vespanode-box vespanode; do
  [[ -x "$bin/$program" ]] || continue
  compare "$program.1" "$("$bin/$program" --help | options_in)" \
    "$(man_options "$source/docs/man/$program.1.md")"
done
# Defaults the help shows ("--erase-ms INT...=120") are the ones the man page names ("default
# 120") in the option's paragraph.
check_defaults() {
  local page=$1 option value stated
  while read -r option value; do
    stated=$(grep -A2 -F -- "**$option**" "$page" | grep -oE 'default [0-9]+' | head -n 1)
    [[ -z "$stated" || "$stated" == "default $value" ]] ||
      fail "$(basename "$page") says $stated for $option; --help says $value"
  done < <(sed -nE 's/^ *(--[a-z-]+) [^=]*=([0-9]+)( .*)?$/\1 \2/p')
}
# (Fed by process substitution, not a pipe, so that its failures count here.)
check_defaults "$source/docs/man/vespanode-box.1.md" < <("$bin/vespanode-box" --help)
check_defaults "$source/docs/man/vespanode-cli.1.md" < \
  <(for c in $cli_commands; do "$bin/vespanode-cli" "$c" --help; done)

for page in vespanode vespanode-cli vespanode-box; do
  grep -q "^\.TH ${page^^} 1 .*Vespanode $version" "$man/$page.1" || fail "$page.1: no title"
  if command -v man >/dev/null; then
    rendered=$(MANWIDTH=100 man -l "$man/$page.1" 2>&1)
    grep -q "^NAME" <<<"$rendered" || fail "$page.1 does not render: $rendered"
  fi
done

# --- bash completion ---
# complete_line WORDS...: what the completion offers for the last word.
complete_line() {
  COMP_WORDS=(vespanode-cli "$@")
  COMP_CWORD=$#
  COMPREPLY=()
  _vespanode_cli
  printf '%s\n' "${COMPREPLY[@]}" | sort
}
# shellcheck source=/dev/null  # the completion under test
source "$source/packaging/vespanode-cli.bash-completion"
[[ "$(complete_line "" | tr '\n' ' ')" == "download extract identify inspect pack ports records report upload verify " ]] ||
  fail "completion of the commands: $(complete_line "")"
[[ "$(complete_line upload --set a | tr '\n' ' ')" == "all app " ]] ||
  fail "completion of set names: $(complete_line upload --set a)"
[[ "$(complete_line download --port COM1 | tr '\n' ' ')" == "COM1 COM10 " ]] ||
  fail "completion of ports: $(complete_line download --port COM1)"
[[ "$(complete_line records f | tr '\n' ' ')" == "flush " ]] ||
  fail "completion of records: $(complete_line records f)"
for c in $cli_commands; do
  compare "completion of $c" "$("$bin/vespanode-cli" "$c" --help | options_in)" \
    "$(complete_line "$c" -)"
done

[[ $failures -eq 0 ]] && echo "man pages, completion and --help agree"
exit $((failures > 0))
