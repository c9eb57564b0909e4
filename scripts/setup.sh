#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine (as root),
# then cross-builds static liblzma from Debian's own xz-utils source package:
# a decoder for the Windows stub and an encoder and decoder for the Windows
# build of package-builder. Idempotent: quiet and quick when everything is
# there.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
deps="$top/build/deps"
log="$top/build/setup.log"
mkdir -p "$deps"

say() { printf 'setup: %s\n' "$*"; }

packages=(
  g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 mingw-w64-tools
  cmake make g++ clang libclang-rt-14-dev libgtest-dev liblzma-dev dpkg-dev
  wine wine64 wine32:i386 fonts-wine xvfb xauth x11-utils imagemagick osslsigncode openssl 7zip
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

# Debian's xz-utils source package, fetched once into $deps/xz-src for the
# cross-builds below and removed when they are done.
xz_src=
fetch_xz_source() {
  [ -n "$xz_src" ] && return 0
  local work="$deps/xz-src"
  rm -rf "$work" && mkdir -p "$work"
  if ! ls /var/lib/apt/lists/*_source_Sources* >/dev/null 2>&1; then
    as_root apt-get update -qq >>"$log" 2>&1
  fi
  # apt-get source verifies the signed .dsc and the checksums it names.
  (cd "$work" && apt-get source -qq xz-utils >>"$log" 2>&1) \
    || { say "apt-get source xz-utils failed; see $log"; exit 1; }
  xz_src=$(find "$work" -maxdepth 1 -type d -name 'xz-utils-*' | head -1)
}

# cross_build_liblzma NAME HOST CONFIGURE-OPTIONS...: a static liblzma for
# HOST, configured in a folder of its own (the source stays clean for the
# next build) and installed into $deps/NAME. Skipped when it is there and was
# made with the same options (they are kept beside it).
cross_build_liblzma() {
  local name=$1 host=$2
  shift 2
  local options="$host $*"
  [ -f "$deps/$name/lib/liblzma.a" ] && [ "$(cat "$deps/$name/options" 2>/dev/null)" = "$options" ] && return 0
  say "cross-building liblzma for $host ($name) from Debian's xz-utils source package"
  fetch_xz_source
  local objdir="$deps/xz-src/build-$name"
  rm -rf "$objdir" "$deps/$name" && mkdir -p "$objdir"
  (
    cd "$objdir"
    "$xz_src/configure" --host="$host" --prefix="$deps/$name" "$@"
    make -j"$(nproc)"
    make install
  ) >>"$log" 2>&1 || { say "liblzma cross-build ($name) failed; see $log"; tail -20 "$log"; exit 1; }
  printf '%s' "$options" >"$deps/$name/options"
}

# For the stub, i686: static, LZMA1 decoder only, small; code for the i486,
# so that it runs on the processors Windows 95 runs on (no cmov).
cross_build_liblzma xz-win32 i686-w64-mingw32 \
  --disable-shared --enable-static --disable-encoders --enable-decoders=lzma1 \
  --disable-threads --disable-xz --disable-xzdec --disable-lzmadec --disable-lzmainfo \
  --disable-scripts --disable-doc --disable-nls --enable-small --enable-checks=crc32 \
  --disable-lzma-links CFLAGS="-Os -march=i486 -mtune=generic -ffunction-sections -fdata-sections -fno-asynchronous-unwind-tables"

# For the Windows build of package-builder, x86_64: static, the LZMA1
# encoder (with every match finder the presets use) and decoder, built for
# speed; a raw stream needs no integrity check beyond the one xz requires.
cross_build_liblzma xz-win64 x86_64-w64-mingw32 \
  --disable-shared --enable-static --enable-encoders=lzma1 --enable-decoders=lzma1 \
  --disable-threads --disable-xz --disable-xzdec --disable-lzmadec --disable-lzmainfo \
  --disable-scripts --disable-doc --disable-nls --enable-checks=crc32 \
  --disable-lzma-links CFLAGS="-O2 -ffunction-sections -fdata-sections"

rm -rf "$deps/xz-src"
