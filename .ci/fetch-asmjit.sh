#!/usr/bin/env bash
# fetch-asmjit.sh [DIR] - puts Debian's source of the installed libasmjit-dev,
# the same version, into DIR (default third_party/asmjit), where the build
# compiles it into both libraries as position-independent code. apt reads
# the machine's own Debian entries turned into deb-src ones, with lists of
# its own in a temporary folder: apt's configuration stays as it is.
set -euo pipefail
cd "$(dirname "$0")/.."
dest=${1:-third_party/asmjit}
package=$(dpkg-query -W -f='${source:Package}' libasmjit-dev)
version=$(dpkg-query -W -f='${source:Version}' libasmjit-dev)
if [ -f "$dest/src/asmjit/x86.h" ] && [ "$(cat "$dest/.version" 2>/dev/null)" = "$version" ]; then
  echo "AsmJit source $version already in $dest"
  exit 0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/parts" "$work/lists/partial" "$work/cache/archives/partial"
for f in /etc/apt/sources.list.d/*.sources; do
  [ -e "$f" ] && sed 's/^Types: *deb$/Types: deb-src/' "$f" >"$work/parts/$(basename "$f")"
done
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
  [ -e "$f" ] && sed -n 's/^deb /deb-src /p' "$f" >"$work/parts/$(basename "$f")"
done
apt_own=(-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$work/parts"
  -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/cache" -o APT::Sandbox::User=root)
# An entry without sources (another vendor's) only warns; the fetch below decides.
apt-get "${apt_own[@]}" -qq update || true
(cd "$work" && apt-get "${apt_own[@]}" -qq source "$package=$version" >/dev/null)
tree=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name "$package-*")
rm -rf "$dest"
mkdir -p "$(dirname "$dest")"
mv "$tree" "$dest"
echo "$version" >"$dest/.version"
echo "AsmJit source $version in $dest"
