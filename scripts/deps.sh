#!/usr/bin/env bash
# Installs the Debian packages that building (`deps.sh build`) or testing (`deps.sh test`) needs.
# Packages already installed are left alone; nothing is fetched when all are present.
set -euo pipefail

build_packages=(g++ cmake ninja-build pkg-config qt6-base-dev libgl-dev fonts-wine libical-dev unicode-cldr-core)
test_packages=("${build_packages[@]}" libgtest-dev pff-tools python3-pypff pst-utils
  binutils-mingw-w64-i686 desktop-file-utils appstream dpkg-dev file clang-14 libclang-rt-14-dev)

case "${1:-build}" in
  build) wanted=("${build_packages[@]}") ;;
  test) wanted=("${test_packages[@]}") ;;
  *) echo "usage: $0 [build|test]" >&2; exit 2 ;;
esac

missing=()
for pkg in "${wanted[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$pkg" 2>/dev/null || true)
  [[ "$status" == installed ]] || missing+=("$pkg")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing Debian packages: ${missing[*]}"
sudo=()
if [[ $(id -u) -ne 0 ]]; then
  if command -v sudo >/dev/null; then
    sudo=(sudo)
  else
    echo "These packages are missing and installing them needs root: ${missing[*]}" >&2
    exit 1
  fi
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
