#!/usr/bin/env bash
# scripts/doc-examples fails a guide whose example ends otherwise than it says, or whose
# quoted text of the updater is not the catalogue's, and passes one where both hold; the
# blocks of a guide share one directory, in order.
#   doc_examples_test.sh VARNO_PACK
set -euo pipefail
export VARNO_PACK=$1
script=$(dirname "$0")/../../scripts/doc-examples
work=$(mktemp -d "${TMPDIR:-/tmp}/varno-doc-examples-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
fence='```'

cat >"$work/good.md" <<GUIDE
${fence}sh doc-test
varno-pack init projet
${fence}
${fence}sh doc-test status=2
test -f projet/varno-package.toml
varno-pack check projet
${fence}
${fence}text ui-text
Cette Mise à jour est déjà effective.
Voulez-vous vraiment la reproduire ?
${fence}
GUIDE
bash "$script" "$work/good.md" >"$work/out" 2>&1 || { cat "$work/out"; echo "FAIL: a guide whose examples hold was refused"; exit 1; }
grep -q '2 examples of 1 guides ran as shown; 1 quoted texts' "$work/out" || { cat "$work/out"; echo "FAIL: summary"; exit 1; }

expect_failure() {  # NAME MESSAGE: the guide NAME.md fails, naming its line with MESSAGE
  if bash "$script" "$work/$1.md" >"$work/out" 2>&1; then
    cat "$work/out"; echo "FAIL: $1.md passed"; exit 1
  fi
  grep -q "$2" "$work/out" || { cat "$work/out"; echo "FAIL: $1.md: no \"$2\""; exit 1; }
}
printf '%s\n' "${fence}sh doc-test" 'varno-pack check nulle-part' "$fence" >"$work/status.md"
expect_failure status "status.md:1: the example ended with 2, not 0"
printf '%s\n' "${fence}sh doc-test status=2" 'varno-pack --version' "$fence" >"$work/refusal.md"
expect_failure refusal "refusal.md:1: the example ended with 0, not 2"
printf '%s\n' '' "${fence}text ui-text" 'Cette Mise à jour est déjà effective.' "$fence" >"$work/text.md"
expect_failure text "text.md:2: not a text of src/base/texts.h"
echo "doc-examples: passes and failures as expected"
