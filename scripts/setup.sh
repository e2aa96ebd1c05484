#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need.
# Idempotent: installs only what is missing; uses sudo only when not root.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git python3 curl
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libsqlite3-dev libcurl4-openssl-dev libpugixml-dev
  qt6-base-dev fonts-noto-cjk fonts-wqy-zenhei xvfb xauth
  libgsf-bin nodejs npm
  libsodium-dev minisign libdeflate-dev scdoc man-db bash-completion libssl-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    # A package may be provided under another name (npm ships with nodesource's nodejs).
    if [ "$p" = npm ] && command -v npm >/dev/null 2>&1; then continue; fi
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  echo "setup: installing ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
