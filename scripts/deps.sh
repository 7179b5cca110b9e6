#!/usr/bin/env bash
# Installs the Debian packages that building (`deps.sh build`) or testing (`deps.sh test`) needs,
# and for testing the npm packages of tests/interop (the PST reader pst-extractor), pinned by its
# package-lock.json. What is already installed is left alone; nothing is fetched when all is there.
set -euo pipefail
cd "$(dirname "$0")/.."

build_packages=(g++ cmake ninja-build pkg-config qt6-base-dev libgl-dev fonts-wine libical-dev unicode-cldr-core)
test_packages=("${build_packages[@]}" libgtest-dev pff-tools python3-pypff pst-utils
  binutils-mingw-w64-i686 desktop-file-utils appstream dpkg-dev file clang-14 libclang-rt-14-dev
  nodejs npm)

case "${1:-build}" in
  build) wanted=("${build_packages[@]}") ;;
  test) wanted=("${test_packages[@]}") ;;
  *) echo "usage: $0 [build|test]" >&2; exit 2 ;;
esac

# A package counts as present when installed, or when an installed package provides it (Node.js
# from NodeSource, for one, ships npm itself and conflicts with Debian's npm package).
present=" $(dpkg-query -W -f='${db:Status-Status} ${Package}, ${Provides}\n' 2>/dev/null |
  sed -n 's/^installed //p' | sed 's/ *([^)]*)//g; s/, */ /g' | tr '\n' ' ') "
missing=()
for pkg in "${wanted[@]}"; do
  [[ "$present" == *" $pkg "* ]] || missing+=("$pkg")
done

if [[ ${#missing[@]} -gt 0 ]]; then
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
fi

# The interop tests' npm packages, into tests/interop/node_modules (ignored by git). The lock file
# copied in after a clean install tells whether that install is still the one the lock file asks for.
if [[ "${1:-build}" == test ]]; then
  interop=tests/interop
  stamp=$interop/node_modules/.installed-package-lock.json
  if ! cmp -s "$interop/package-lock.json" "$stamp"; then
    echo "Installing npm packages for $interop (npm ci)"
    (cd "$interop" && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error >/dev/null)
    cp "$interop/package-lock.json" "$stamp"
  fi
fi
