#!/usr/bin/env bash
# Root may write any file and open any port, so a suite run as root (as CI runs it) never meets
# the permission rules a user meets. This runs the command-line and file tests once more as
# `nobody`, from a copy of the programs in a folder nobody may read (the build tree may lie under
# a folder only root may enter), with scratch folders in a folder of nobody's own.
#   run_unprivileged.sh BIN_DIR
# Exit 77 (skipped) when not run as root or when there is no way to become nobody.
set -uo pipefail
bin=$1
[[ $(id -u) == 0 ]] || { echo "not root: the suite already ran unprivileged"; exit 77; }
command -v setpriv >/dev/null && id nobody >/dev/null 2>&1 || { echo "no setpriv or no nobody"; exit 77; }
group=$(id -gn nobody)
# The thread sanitizer's run is about threads; its options and suppressions do not cross to nobody.
[[ -z ${TSAN_OPTIONS:-} ]] || { echo "under the thread sanitizer: permissions are tested elsewhere"; exit 77; }

top=$(mktemp -d /tmp/vespanode-unprivileged-XXXXXX) || exit 1
trap 'rm -rf "$top"' EXIT
chmod 0755 "$top"
mkdir "$top/bin" "$top/scratch"
for program in vespanode-cli vespanode-box test_cli; do
  cp "$bin/$program" "$top/bin/" || exit 1
done
# A build of only some targets may lack the link tests.
[[ -x $bin/test_link ]] && cp "$bin/test_link" "$top/bin/"
# The JSON the programs print is checked against the schemas there too.
mkdir "$top/bin/schema"
cp "$(dirname "$0")/../../docs/schema/"*.schema.json "$(dirname "$0")/check_json.py" "$top/bin/schema/" || exit 1
chmod -R a+rX "$top/bin"
chown nobody:"$group" "$top/scratch"
chmod 0700 "$top/scratch"

as_nobody() {
  setpriv --reuid=nobody --regid="$group" --clear-groups \
    env -i PATH=/usr/bin:/bin TMPDIR="$top/scratch" VESPANODE_BIN_DIR="$top/bin" VESPANODE_SCHEMA_DIR="$top/bin/schema" HOME="$top/scratch" "$@"
}
if ! as_nobody test -x "$top/bin/test_cli"; then
  echo "nobody cannot run the copied programs (a noexec /tmp?)"
  exit 77
fi
failed=0
as_nobody "$top/bin/test_cli" --gtest_brief=1 || failed=1
if [[ -x $top/bin/test_link ]]; then
  as_nobody "$top/bin/test_link" --gtest_brief=1 --gtest_filter='AppendLine.*' || failed=1
fi
exit $failed
