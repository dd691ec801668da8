#!/usr/bin/env bash
# Installs only what the plug-in and the tool need (setup.sh's demo profile),
# builds just those as they ship (Release; no tests; the host and the tool
# one translation unit each, for speed), and expands the bundled example
# through the real plug-in library. The tool is then build-demo/tools/moravel.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh demo
cmake --preset demo >/dev/null
cmake --build --preset demo -j "$(nproc)" --target moravel Moravel MoravelU >/dev/null
tool=build-demo/tools/moravel

echo "== moravel --version: the tool and both plug-in builds"
"$tool" --version
echo
echo "== the tags of examples/letter/template.html"
"$tool" tags examples/letter/template.html
echo
echo "== expanded with examples/letter/data.json, HTML-encoded with named references"
"$tool" expand examples/letter/template.html --data examples/letter/data.json \
  --files-dir "$PWD/examples/letter/" --utf 1
echo
echo "== a template from standard input, with tags chosen through SetTags and a variable from -D"
printf 'Hello {{NAME}} from {{city}}: {{+6*7}}, {{greeting}}\n' |
  "$tool" expand - --tags '{{' '}}' --data examples/letter/data.json -D greeting=welcome
echo
echo "== the tool is $tool (Release), with both plug-in builds in build-demo/lib/"
