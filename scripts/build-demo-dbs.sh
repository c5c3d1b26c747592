#!/usr/bin/env bash
# Builds the two demo molecule databases into DATA_DIR/Databases/:
#   Metabolites.db       ~114,000 metabolites (names, SMILES) from openms-common
#   Common compounds.db  ~570 compounds from chemical-structures-data (CML files)
# Usage: scripts/build-demo-dbs.sh [DATA_DIR]
#   DATA_DIR defaults to ${XDG_DATA_HOME:-$HOME/.local/share}/tarvish/
#   TARVISH_MKDB: the tarvish-mkdb to use (default: ./build/bin/tarvish-mkdb)
#   TW_DEMO_ACCESS=1: also Access (.mdb) copies of both, for the tests of the Access engine,
#     in a data directory of their own, DATA_DIR/access/Databases/ (beside the .db files the
#     plug-in would list each name twice)
# A database newer than its source and the tool is kept, so running it again is quick.
set -euo pipefail
cd "$(dirname "$0")/.."

DATA_DIR=${1:-${XDG_DATA_HOME:-$HOME/.local/share}/tarvish/}
DB_DIR="${DATA_DIR%/}/Databases"
MKDB=${TARVISH_MKDB:-$PWD/${BUILD_DIR:-build}/bin/tarvish-mkdb}
METABOLITES_SRC=/usr/share/openms/CHEMISTRY/HMDB2StructMapping.tsv
COMPOUNDS_DIR=/usr/share/chemical-structures

if [ ! -x "$MKDB" ]; then
  echo "build-demo-dbs: tarvish-mkdb not found at $MKDB (build it, or set TARVISH_MKDB)" >&2
  exit 1
fi
mkdir -p "$DB_DIR"

# up_to_date TARGET SOURCE...: the target exists and is newer than every source.
up_to_date() {
  local target=$1; shift
  [ -f "$target" ] || return 1
  local src
  for src in "$@"; do
    [ "$target" -nt "$src" ] || return 1
  done
}

# timed LABEL COMMAND...: runs the command and reports how long it took.
timed() {
  local label=$1; shift
  local start=$EPOCHREALTIME
  "$@"
  local end=$EPOCHREALTIME
  awk -v l="$label" -v s="$start" -v e="$end" 'BEGIN { printf "%s: %.1f s\n", l, e - s }'
}

status=0

target="$DB_DIR/Metabolites.db"
if [ ! -r "$METABOLITES_SRC" ]; then
  echo "build-demo-dbs: $METABOLITES_SRC missing (package openms-common); Metabolites.db skipped" >&2
  status=1
elif up_to_date "$target" "$METABOLITES_SRC" "$MKDB"; then
  echo "Metabolites.db is up to date"
else
  # Tab-separated without a header: ID, name, SMILES, InChI.
  timed "Metabolites.db" "$MKDB" --format tsv --no-header --name-col 2 --smiles-col 3 \
    --rejects "${DATA_DIR%/}/Metabolites.rejects.txt" -o "$target" "$METABOLITES_SRC" || status=1
fi

target="$DB_DIR/Common compounds.db"
mapfile -d '' cml_files < <(find "$COMPOUNDS_DIR" -name '*.cml' -print0 2>/dev/null | sort -z)
if [ ${#cml_files[@]} -eq 0 ]; then
  echo "build-demo-dbs: no CML files in $COMPOUNDS_DIR (package chemical-structures-data); Common compounds.db skipped" >&2
  status=1
elif up_to_date "$target" "$MKDB" "${cml_files[@]}"; then
  echo "Common compounds.db is up to date"
else
  timed "Common compounds.db" "$MKDB" --format cml \
    --rejects "${DATA_DIR%/}/Common compounds.rejects.txt" -o "$target" "${cml_files[@]}" || status=1
fi

if [ "${TW_DEMO_ACCESS:-0}" = 1 ]; then
  ACCESS_DIR="${DATA_DIR%/}/access/Databases"
  mkdir -p "$ACCESS_DIR"
  target="$ACCESS_DIR/Metabolites.mdb"
  if [ ! -r "$METABOLITES_SRC" ]; then
    status=1
  elif up_to_date "$target" "$METABOLITES_SRC" "$MKDB"; then
    echo "Metabolites.mdb is up to date"
  else
    timed "Metabolites.mdb" "$MKDB" --format tsv --no-header --name-col 2 --smiles-col 3 \
      -o "$target" "$METABOLITES_SRC" || status=1
  fi
  target="$ACCESS_DIR/Common compounds.mdb"
  if [ ${#cml_files[@]} -eq 0 ]; then
    status=1
  elif up_to_date "$target" "$MKDB" "${cml_files[@]}"; then
    echo "Common compounds.mdb is up to date"
  else
    timed "Common compounds.mdb" "$MKDB" --format cml -o "$target" "${cml_files[@]}" || status=1
  fi
fi

exit $status
