#!/usr/bin/env bash
# Builds the Debian package from the build tree (cpack) and holds it to
# lintian: no errors, and the files Debian's policy asks for are there.
# Skipped (exit 77) where lintian or dpkg-shlibdeps is not installed.
set -euo pipefail
build=$1
cpack=$2
if ! command -v lintian > /dev/null || ! command -v dpkg-shlibdeps > /dev/null; then
  echo "lintian or dpkg-shlibdeps is not installed"
  exit 77
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

"$cpack" --config "$build/CPackConfig.cmake" -B "$tmp" > "$tmp/cpack.log" 2>&1 ||
  { cat "$tmp/cpack.log"; exit 1; }
deb=$(ls "$tmp"/*.deb)
dpkg-deb -c "$deb" | awk '{print $6}' > "$tmp/contents"
for f in usr/share/doc/vora-plombix/copyright usr/share/doc/vora-plombix/changelog.gz \
         usr/share/man/man1/plombix.1.gz usr/share/man/man1/plombix-monitor.1.gz \
         usr/share/applications/vora-plombix.desktop; do
  grep -qx "./$f" "$tmp/contents" || { echo "missing from the package: $f"; exit 1; }
done
lintian --fail-on error --tag-display-limit 0 "$deb"
echo "$(basename "$deb"): lintian finds no errors"
