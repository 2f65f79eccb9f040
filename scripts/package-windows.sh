#!/usr/bin/env bash
# Cross-builds KestSdk_Win for Windows x64 and writes KestSdk_Win-windows-x64.zip
# into the build directory: public header, DLL, import library, the mingw
# runtime DLLs the DLL needs, a sample client and a README.
# Usage: scripts/package-windows.sh [build-dir]   (default: build-mingw)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-build-mingw}
case "$dir" in /*) ;; *) dir="$root/$dir" ;; esac
name=KestSdk_Win-windows-x64

KEST_TARGET=KestSdk_Win "$root/scripts/build.sh" "$dir" -DKEST_SDK_ONLY=ON \
  -DCMAKE_SYSTEM_NAME=Windows \
  -DCMAKE_CXX_COMPILER=x86_64-w64-mingw32-g++-posix \
  -DCMAKE_BUILD_TYPE=Release

# The build copies the runtime DLLs beside the library.
built="$dir/sdk"
stage="$dir/package/$name"
rm -rf "$dir/package" "$dir/$name.zip"
mkdir -p "$stage/include/KestSdk" "$stage/lib" "$stage/bin" "$stage/sample"
# Only the client's header: the timing hook beside it is for the library's tests.
cp "$root/sdk/include/KestSdk/DeviceClient.h" "$stage/include/KestSdk/"
cp "$built/libKestSdk_Win.dll.a" "$stage/lib/"
for dll in KestSdk_Win.dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
  cp "$built/$dll" "$stage/bin/"
  # Debian's runtime DLLs carry their debug information (libstdc++ ~20 MB of it).
  x86_64-w64-mingw32-strip --strip-debug "$stage/bin/$dll"
done
cp "$root/sdk/sample/client.cpp" "$stage/sample/"
cp "$root/sdk/package/README.txt" "$stage/"

(cd "$dir/package" && cmake -E tar cf "../$name.zip" --format=zip "$name")
echo "$dir/$name.zip"
