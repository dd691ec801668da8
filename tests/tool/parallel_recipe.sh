#!/bin/bash
# parallel_recipe.sh: the many-machine recipe of docs/MERGE.md, run as it is written with this machine as two
# "machines" on a few thousand records; the letters gathered must be those of one run, byte for byte.
# Usage: parallel_recipe.sh MORAVEL MERGE.md
set -euo pipefail
tool=$(realpath "$1") doc=$(realpath "$2")
command -v parallel >/dev/null || { echo "GNU parallel is not installed: scripts/setup.sh test installs it" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
ln -s "$tool" "$work/bin/moravel"
export PATH="$work/bin:$PATH"
cd "$work"
printf 'Dear <FIELD>name</FIELD>, %s\n' "your order <FIELD>order</FIELD> of <FIELD>qty</FIELD>" >letter.txt
for i in $(seq 3500); do
  printf '{"name": "Customer %d", "order": "A-%05d", "qty": %d}\n' "$i" "$i" $((i % 17))
done >letters.jsonl
# The recipe's block, with this machine as the machines and smaller ranges.
sed -n '/^<!-- recipe/,/^<!-- end of recipe/p' "$doc" | sed '1,2d;$d' | sed '$d' |
  sed -e 's|^MACHINES=.*|MACHINES=2/:|' -e 's|^CHUNK=.*|CHUNK=400|' >recipe.sh
grep -q 'parallel -S' recipe.sh || { echo "no recipe found in $doc" >&2; exit 1; }
bash recipe.sh 2>parallel.err || { cat parallel.err >&2; exit 1; }
moravel expand letter.txt --each letters.jsonl --jobs 1 -o one/{n:07}.txt
diff -r one letters >/dev/null || { echo "the gathered letters differ from one run's" >&2; exit 1; }
[ "$(ls letters | wc -l)" -eq 3500 ] || { echo "not every letter was gathered" >&2; exit 1; }
ls part-* >/dev/null 2>&1 && { echo "a part directory was left" >&2; exit 1; }
echo "the recipe's 3500 letters are one run's"
