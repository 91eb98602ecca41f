#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the libraries Brimtale needs for Windows with mingw-w64, from Debian's
# own sources, into PREFIX: curl (Schannel, zlib), libarchive (CNG, zlib),
# GoogleTest, and nlohmann-json's headers. Called by scripts/windows.sh, which
# keys the cache by a hash of this file: a changed recipe builds again.
#   windows-libs.sh PREFIX WORKDIR TOOLCHAIN_FILE
set -euo pipefail
prefix=$1 work=$2 toolchain=$3
jobs=${BRIMTALE_JOBS:-2}
mkdir -p "$prefix" "$work"
cd "$work"

cross=(-G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release
       -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF -DBRIMTALE_WIN_PREFIXES="$prefix")

# The unpacked tree of a Debian source package (apt-get source, no build deps).
debian_source() {
  local pkg=$1
  local dir
  dir=$(find . -maxdepth 1 -type d -name "$pkg-[0-9]*" | head -n 1)
  if [ -z "$dir" ]; then
    apt-get source -qq "$pkg" >/dev/null
    dir=$(find . -maxdepth 1 -type d -name "$pkg-[0-9]*" | head -n 1)
  fi
  echo "$dir"
}

echo "== curl (Schannel, zlib)"
src=$(debian_source curl)
cmake -S "$src" -B curl-build "${cross[@]}" -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF \
  -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_ZLIB=ON -DHTTP_ONLY=ON \
  -DCURL_DISABLE_LDAP=ON -DUSE_LIBIDN2=OFF -DCURL_USE_LIBSSH2=OFF -DCURL_USE_LIBPSL=OFF \
  -DUSE_NGHTTP2=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DENABLE_UNICODE=ON >/dev/null
cmake --build curl-build -j"$jobs" >/dev/null
cmake --install curl-build >/dev/null

echo "== libarchive (CNG, zlib)"
src=$(debian_source libarchive)
cmake -S "$src" -B libarchive-build "${cross[@]}" -DENABLE_TEST=OFF -DENABLE_TAR=OFF \
  -DENABLE_CPIO=OFF -DENABLE_CAT=OFF -DENABLE_OPENSSL=OFF -DENABLE_CNG=ON -DENABLE_ZLIB=ON \
  -DENABLE_LZMA=OFF -DENABLE_BZip2=OFF -DENABLE_LZ4=OFF -DENABLE_ZSTD=OFF -DENABLE_LIBXML2=OFF \
  -DENABLE_EXPAT=OFF -DENABLE_LIBB2=OFF -DENABLE_ICONV=OFF -DENABLE_NETTLE=OFF \
  -DENABLE_MBEDTLS=OFF -DENABLE_ACL=OFF -DENABLE_XATTR=OFF -DENABLE_WERROR=OFF >/dev/null
cmake --build libarchive-build -j"$jobs" --target archive_static >/dev/null
install -d "$prefix/lib" "$prefix/include"
cp libarchive-build/libarchive/libarchive_static.a "$prefix/lib/libarchive.a"
cp "$src"/libarchive/archive.h "$src"/libarchive/archive_entry.h "$prefix/include/"

echo "== GoogleTest"
cmake -S /usr/src/googletest -B gtest-build "${cross[@]}" -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON >/dev/null
cmake --build gtest-build -j"$jobs" >/dev/null
cmake --install gtest-build >/dev/null

echo "== nlohmann-json (headers)"
install -d "$prefix/include" "$prefix/share/cmake"
cp -r /usr/include/nlohmann "$prefix/include/"
cp -r /usr/share/cmake/nlohmann_json "$prefix/share/cmake/"
