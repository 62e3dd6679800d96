#!/usr/bin/env bash
# Runs a command beside a PostgreSQL server of its own: initdb in a scratch folder, as an
# unprivileged user (postgres refuses to run as root), listening on a Unix socket only, stopped
# and removed when the command ends, whatever way it ends.
#   with_postgres.sh COMMAND...         the command gets VESPANODE_TEST_PG_* (below) and PGPASSFILE
#   with_postgres.sh control TOP stop|start   what a test runs to take the server away and back
#   with_postgres.sh control TOP freeze|thaw  SIGSTOP (SIGCONT) to the server and all its processes:
#                                             a hung server, or a network that drops every packet
# Exit 77 (skipped) when Debian's postgresql server is not installed.
set -uo pipefail

pg_bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[[ -n $pg_bin && -x $pg_bin/initdb ]] || { echo "no PostgreSQL server (Debian: postgresql)"; exit 77; }

# as_owner COMMAND...: as nobody when root, as ourselves otherwise.
as_owner() {
  if [[ $(id -u) == 0 ]]; then
    setpriv --reuid=nobody --regid="$(id -gn nobody)" --clear-groups \
      env -i PATH=/usr/bin:/bin HOME="$top" LC_ALL=C "$@"
  else
    env LC_ALL=C "$@"
  fi
}

control() {
  case $1 in
    stop) as_owner "$pg_bin/pg_ctl" -D "$top/data" -m fast -w -t 30 stop >/dev/null ;;
    start) as_owner "$pg_bin/pg_ctl" -D "$top/data" -l "$top/server.log" -w -t 30 start >/dev/null ;;
    freeze | thaw)
      # The postmaster first, so that it starts no process while the others are stopped.
      local signal=STOP postmaster
      [[ $1 == thaw ]] && signal=CONT
      postmaster=$(head -n 1 "$top/data/postmaster.pid") || return 1
      kill -s "$signal" "$postmaster" || return 1
      # shellcheck disable=SC2046
      kill -s "$signal" $(pgrep -P "$postmaster") ;;
    *) echo "control: stop, start, freeze or thaw" >&2; return 2 ;;
  esac
}

if [[ ${1:-} == control ]]; then
  top=$2
  control "$3"
  exit $?
fi

top=$(mktemp -d /tmp/vespanode-postgres-XXXXXX) || exit 1
cleanup() {
  control thaw 2>/dev/null
  as_owner "$pg_bin/pg_ctl" -D "$top/data" -m immediate -w -t 10 stop >/dev/null 2>&1
  rm -rf "$top"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
chmod 0755 "$top"
mkdir "$top/socket"
[[ $(id -u) == 0 ]] && chown nobody "$top" "$top/socket"

as_owner "$pg_bin/initdb" -D "$top/data" -U postgres -A trust -E UTF8 --locale=C --no-sync \
  >"$top/initdb.log" 2>&1 || { cat "$top/initdb.log"; exit 1; }
cat >>"$top/data/postgresql.conf" <<CONF
listen_addresses = ''
unix_socket_directories = '$top/socket'
fsync = off
synchronous_commit = off
full_page_writes = off
max_connections = 40
shared_buffers = 16MB
CONF
# The superuser logs in without a password; everyone else needs one.
cat >"$top/data/pg_hba.conf" <<CONF
local all postgres trust
local all all scram-sha-256
CONF
control start || { cat "$top/server.log"; exit 1; }

psql=("$pg_bin/psql" -X -q -v ON_ERROR_STOP=1 -h "$top/socket" -U postgres -d postgres)
"${psql[@]}" >/dev/null <<SQL || exit 1
CREATE ROLE line LOGIN PASSWORD 'line-secret';
CREATE DATABASE line OWNER line;
CREATE DATABASE newer OWNER line;
SQL
printf '*:*:*:line:line-secret\n' >"$top/pgpass"
chmod 0600 "$top/pgpass"

export PGPASSFILE=$top/pgpass
export VESPANODE_TEST_PG_SOCKET=$top/socket
export VESPANODE_TEST_PG_CONTROL="bash $0 control $top"
"$@"
