#!/usr/bin/env bash
# Installs what building, running and testing need (Debian packages). Safe to run again.
set -euo pipefail
packages=(build-essential cmake g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev libfftw3-dev
          qt6-base-dev qt6-base-dev-tools libqt6svg6-dev libgl1-mesa-dev
          qt6-translations-l10n
          xvfb xauth fonts-dejavu-core locales
          portaudio19-dev libasound2-dev libsoxr-dev
          pulseaudio pulseaudio-utils libpulse-dev libasound2-plugins ladspa-sdk swh-plugins)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO=sudo
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
# The tests check the number formats under a German desktop locale.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO=sudo
    $SUDO sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
    $SUDO locale-gen >/dev/null
fi
