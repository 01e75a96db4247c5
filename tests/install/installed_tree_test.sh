#!/usr/bin/env bash
# Installs the build into a temporary prefix, checks the installed tree, then
# starts the installed player headless and receives its source with the
# installed plombix-monitor: the player must find its stand-in runtime from
# its install location alone.
set -euo pipefail
build=$1
cmake=$2

tmp=$(mktemp -d)
pid=
cleanup() {
  if [ -n "$pid" ]; then
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT

"$cmake" --install "$build" --prefix "$tmp/usr" > "$tmp/install.log"
for f in bin/plombix bin/plombix-monitor lib/vora-plombix/libplombix_ndi.so \
         share/applications/vora-plombix.desktop \
         share/icons/hicolor/256x256/apps/vora-plombix.png \
         share/icons/hicolor/16x16/apps/vora-plombix.png \
         share/man/man1/plombix.1.gz share/man/man1/plombix-monitor.1.gz \
         share/doc/vora-plombix/copyright share/doc/vora-plombix/changelog.gz; do
  [ -e "$tmp/usr/$f" ] || { echo "missing from the installed tree: $f"; exit 1; }
done
# The menu entry takes files ("Open with") and keeps the settings in one
# folder per user.
desktop=$tmp/usr/share/applications/vora-plombix.desktop
grep -qx 'Exec=plombix --user-settings %F' "$desktop"
grep -qx 'Icon=vora-plombix' "$desktop"
for type in image/jpeg image/png image/heif image/avif image/jxl image/svg+xml; do
  grep -q "^MimeType=.*$type;" "$desktop" || { echo "the menu entry does not offer $type"; exit 1; }
done

# Only the installed tree: no forced runtime, no build folders on any path.
unset PLOMBIX_NDI_RUNTIME LD_LIBRARY_PATH
export NDI_RUNTIME_DIR_V6=$tmp/none NDI_RUNTIME_DIR_V5=$tmp/none
export PLOMBIX_RUNTIME_DIR=$tmp/run QT_QPA_PLATFORM=offscreen
mkdir -p "$tmp/work"
cd "$tmp/work"
"$tmp/usr/bin/plombix" > "$tmp/player.log" 2>&1 &
pid=$!

found=
for _ in $(seq 1 150); do
  if "$tmp/usr/bin/plombix-monitor" --list 2>/dev/null | grep -q $'^Vora Plombix 1\t'; then
    found=1
    break
  fi
  kill -0 "$pid" 2>/dev/null || { echo "the player ended:"; cat "$tmp/player.log"; exit 1; }
  sleep 0.2
done
[ -n "$found" ] || { echo "no source 'Vora Plombix 1' within 30 s"; cat "$tmp/player.log"; exit 1; }

"$tmp/usr/bin/plombix-monitor" "Vora Plombix 1" --frames 1 --out "$tmp/frames" --timeout 10000
[ -s "$tmp/frames/frame-0001.png" ] || { echo "no frame received"; exit 1; }
grep -q "stand-in" "$tmp/player.log" || { echo "the player did not report its runtime:"; cat "$tmp/player.log"; exit 1; }
echo "installed player published and was received"
