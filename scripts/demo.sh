#!/usr/bin/env bash
# Sets up the machine, builds the plug-in and the moravel tool, and expands the
# bundled example through the real plug-in library.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build -j "$(nproc)" --target moravel Moravel MoravelU >/dev/null
tool=build/tools/moravel

echo "== moravel version (Unicode build, then 8-bit build)"
"$tool" version
"$tool" version --build 8bit
echo
echo "== the tags of examples/letter/template.html"
"$tool" tags examples/letter/template.html
echo
echo "== expanded with examples/letter/data.json, HTML-encoded with named references"
"$tool" expand examples/letter/template.html --data examples/letter/data.json \
  --files-dir "$PWD/examples/letter/" --utf 1
echo
echo "== a template from standard input, with tags chosen through SetTags"
printf 'Hello {{NAME}} from {{city}}: {{+6*7}}\n' |
  "$tool" expand - --tags '{{' '}}' --data examples/letter/data.json
