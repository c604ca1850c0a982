#!/usr/bin/env bash
# Installs every Debian package the builds and tests need. Idempotent: the
# package lists are refreshed and packages installed only when one is missing.
set -euo pipefail

packages=(
    cmake make g++ python3 python3-jsonschema
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    nlohmann-json3-dev libgtest-dev libgmock-dev libssl-dev
    wine wine64 xvfb xauth
    clang-format
    clang libclang-rt-14-dev
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
fi
