#!/usr/bin/env bash
# package.sh: builds the Debian package (a release build in build-package/,
# then cpack -G DEB), installs it with dpkg into a scratch root, and runs the
# installed tool from there, away from the sources and the build: `moravel
# version`, `moravel --version` (the plug-ins it names must be the installed
# ones) and the bundled example, whose output must be the expected one; the
# package must list the manual pages and the manuals. The
# packages the package depends on must be installed on this machine.
# Environment: MORAVEL_PACKAGE_BUILD (default build-package).
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
out=${MORAVEL_PACKAGE_BUILD:-build-package}

cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORAVEL_BUILD_TESTS=OFF -DMORAVEL_WERROR=ON \
  -DCMAKE_UNITY_BUILD=ON >/dev/null
cmake --build "$out" -j "$(nproc)"
rm -f "$out"/moravel_*.deb
(cd "$out" && cpack -G DEB >/dev/null)
deb=$(ls "$out"/moravel_*.deb)
echo "package: $deb"

for dep in $(dpkg-deb -f "$deb" Depends | tr -d ' ' | tr ',' ' '); do
  dpkg-query -W -f='${Status}' "$dep" 2>/dev/null | grep -q "install ok installed" ||
    { echo "package: depends on $dep, which is not installed here"; exit 1; }
done

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
# The scratch root has no packages of its own: its dependencies are those
# checked above.
dpkg --root="$root" --force-depends --log=/dev/null -i "$deb" >"$root/dpkg.log" 2>&1 ||
  { cat "$root/dpkg.log"; exit 1; }

# The package holds the manual pages and the manuals.
listed=$(dpkg --root="$root" -L moravel)
for f in /usr/share/man/man1/moravel.1 /usr/share/man/man7/moravel-templates.7 \
  /usr/share/doc/moravel/TEMPLATES.md /usr/share/doc/moravel/FUNCTIONS.md; do
  grep -qx "$f" <<<"$listed" || { echo "package: $f is not in the package"; exit 1; }
done
echo "package: lists the manual pages moravel(1) and moravel-templates(7), TEMPLATES.md and FUNCTIONS.md"

tool=$root/usr/bin/moravel
cd "$root"
env -i PATH=/usr/bin:/bin "$tool" version
versions=$(env -i PATH=/usr/bin:/bin "$tool" --version)
echo "$versions"
if [[ $(grep -c "build, $root/usr/lib/moravel/libMoravel" <<<"$versions") != 2 ]]; then
  echo "package: the installed tool did not load the installed plug-ins"
  exit 1
fi
ex=$src/examples/letter
env -i PATH=/usr/bin:/bin "$tool" expand "$ex/template.html" --data "$ex/data.json" --files-dir "$ex/" --utf 1 \
  -o "$root/letter.html"
cmp "$root/letter.html" "$ex/expected.html"
echo "package: installed into a scratch root; version, plug-ins and the example expansion as expected"
