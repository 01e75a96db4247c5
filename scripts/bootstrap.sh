#!/usr/bin/env bash
# Installs the Debian packages Vora Plombix needs to build, test and run.
# Does nothing when every package is already installed.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config       # build tools
  qt6-base-dev                           # Qt 6 Widgets: the window; QImageReader: decoding
  qt6-image-formats-plugins              # TIFF, WebP, TGA, ... readers for Qt
  libsdl2-dev                            # game controllers
  libmicrohttpd-dev                      # HTTP server of the built-in stand-in NDI runtime
  libjpeg62-turbo-dev                    # JPEG decoding of pictures (libjpeg-turbo): scaled, a band of rows at a time
  libturbojpeg0-dev                      # TurboJPEG: the stand-in's MJPEG streams, the benchmarks' reference decode
  libspng-dev                            # PNG decoding of pictures, fast PNG encoding of published frames
  libdeflate-dev                         # PNG pixel data inflated in one call (about twice zlib's speed)
  libheif-dev                            # HEIC/HEIF (phone photos) and AVIF pictures
  libjxl-dev                             # JPEG XL pictures
  qt6-svg-dev                            # SVG pictures, drawn at the size they are shown at
  liblcms2-dev                           # LittleCMS: pictures with an ICC profile converted to sRGB
  zlib1g-dev                             # SVGZ pictures inflated within a size limit
  liblo-dev                              # OSC commands over UDP
  libgtest-dev libgmock-dev              # unit tests
  libbenchmark-dev                       # benchmarks
  dpkg-dev                               # the Debian package (cpack)
  fonts-dejavu-core                      # a font for the window (and for offscreen tests)
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
"${sudo[@]}" apt-get update
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
