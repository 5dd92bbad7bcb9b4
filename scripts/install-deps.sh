#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs, only when one is missing.
set -euo pipefail

packages=(
    build-essential cmake pkg-config binutils ccache
    qtbase5-dev libqt5sql5-sqlite libqt5charts5-dev
    libxlsxwriter-dev libminizip-dev libsimdjson-dev libsqlite3-dev sqlite3
    postgresql-15 libpq-dev
    fonts-wqy-microhei
    python3 python3-openpyxl
    xvfb xauth
    clang libclang-rt-14-dev clang-format clang-tidy
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "install-deps: all packages present"
    exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
