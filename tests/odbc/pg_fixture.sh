#!/usr/bin/env bash
# The PostgreSQL server the ODBC tests share (a CTest fixture):
#   pg_fixture.sh start DIR MKDB   a throwaway cluster in DIR, the demo metabolites loaded
#                                  into its table molecules with tarvish-mkdb --postgres,
#                                  readable by the role tvreader, and DIR/Metabolites.dsn
#   pg_fixture.sh stop DIR         the server stopped, DIR removed
# The cluster's watchdog stops it when ctest (this script's parent) ends, even when a test
# run is killed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cluster="$here/../../scripts/pg-test-cluster.sh"
cmd=$1
dir=$2
case "$cmd" in
start)
  mkdb=$3
  src=/usr/share/openms/CHEMISTRY/HMDB2StructMapping.tsv
  [ -r "$src" ] || { echo "pg_fixture: $src missing (package openms-common)" >&2; exit 1; }
  "$cluster" start "$dir" "$PPID"
  trap '"$cluster" stop "$dir"' ERR
  "$mkdb" -q --format tsv --no-header --name-col 2 --smiles-col 3 \
    --postgres "host=$dir dbname=tvtest user=tvadmin" --readonly-role tvreader \
    --dsn "$dir/Metabolites.dsn" "$src"
  ;;
stop)
  "$cluster" stop "$dir"
  ;;
*)
  echo "pg_fixture: unknown command $cmd" >&2
  exit 1
  ;;
esac
