#!/usr/bin/env bash
# Packs the Windows build as its zip and checks that it holds the program
# and the README, in a folder named for the version and the platform.
#   check_zip.sh <cpack> <build folder> <version> <win32|win64>
set -euo pipefail
cpack=$1 build=$2 version=$3 platform=$4
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$cpack" -G ZIP --config "$build/CPackConfig.cmake" -B "$scratch" >/dev/null
zip="$scratch/diskopt-$version-$platform.zip"
listed=$(cd "$scratch" && cmake -E tar tf "$zip" | sort)
expected=$(printf '%s\n' "diskopt-$version-$platform/README.md" \
  "diskopt-$version-$platform/diskopt.exe" | sort)
if [ "$listed" != "$expected" ]; then
  printf 'check_zip: %s holds\n%s\nnot\n%s\n' "$zip" "$listed" "$expected" >&2
  exit 1
fi
