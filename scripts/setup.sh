#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine (as root),
# then cross-builds liblzma for the Windows stub from Debian's own xz-utils
# source package. Idempotent: quiet and quick when everything is there.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
deps="$top/build/deps"
log="$top/build/setup.log"
mkdir -p "$deps"

say() { printf 'setup: %s\n' "$*"; }

packages=(
  g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 mingw-w64-tools
  cmake make g++ clang libclang-rt-14-dev libgtest-dev liblzma-dev dpkg-dev
  wine wine64 wine32:i386 xvfb xauth imagemagick osslsigncode 7zip
)

need_install() {
  local p
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q 'install ok installed' || return 0
  done
  return 1
}

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

src_list=/etc/apt/sources.list.d/loader-deb-src.sources
if [ ! -f "$src_list" ]; then
  say "enabling Debian source packages"
  as_root tee "$src_list" >/dev/null <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  say "adding the i386 architecture (for 32-bit Wine)"
  as_root dpkg --add-architecture i386
fi

if need_install; then
  say "apt-get update"
  as_root apt-get update -qq >>"$log" 2>&1
  say "installing Debian packages (this takes a few minutes once)"
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${packages[@]}" >>"$log" 2>&1 \
    || { say "apt-get install failed; see $log"; tail -20 "$log"; exit 1; }
fi

# liblzma for i686-w64-mingw32: static, LZMA1 decoder only.
lib="$deps/xz-win32/lib/liblzma.a"
if [ ! -f "$lib" ]; then
  say "cross-building liblzma from Debian's xz-utils source package"
  work="$deps/xz-src"
  rm -rf "$work" && mkdir -p "$work"
  if ! ls /var/lib/apt/lists/*_source_Sources* >/dev/null 2>&1; then
    as_root apt-get update -qq >>"$log" 2>&1
  fi
  # apt-get source verifies the signed .dsc and the checksums it names.
  (cd "$work" && apt-get source -qq xz-utils >>"$log" 2>&1) \
    || { say "apt-get source xz-utils failed; see $log"; exit 1; }
  srcdir=$(find "$work" -maxdepth 1 -type d -name 'xz-utils-*' | head -1)
  (
    cd "$srcdir"
    ./configure --host=i686-w64-mingw32 --prefix="$deps/xz-win32" \
      --disable-shared --enable-static --disable-encoders --enable-decoders=lzma1 \
      --disable-threads --disable-xz --disable-xzdec --disable-lzmadec --disable-lzmainfo \
      --disable-scripts --disable-doc --disable-nls --enable-small --enable-checks=crc32 \
      --disable-lzma-links CFLAGS="-Os -ffunction-sections -fdata-sections -fno-asynchronous-unwind-tables"
    make -j"$(nproc)"
    make install
  ) >>"$log" 2>&1 || { say "liblzma cross-build failed; see $log"; tail -20 "$log"; exit 1; }
  rm -rf "$work"
fi
