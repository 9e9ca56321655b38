#!/usr/bin/env bash
# Installs the Debian packages the console needs to build, run and test; does nothing when
# they are all there. Needs root (or sudo) the first time.
set -euo pipefail

packages=(
    cmake make g++ pkg-config
    qt6-base-dev qt6-serialport-dev libgl-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    fonts-wqy-zenhei
    xvfb xauth mbpoll python3
    libmosquitto-dev mosquitto mosquitto-clients libcpp-httplib-dev prometheus libjs-chart.js
    chromium chromium-driver python3-selenium
    python3-pymodbus python3-serial python3-serial-asyncio libmodbus5 socat openssl libssl-dev
    libsqlite3-dev
    clang libclang-rt-14-dev
    locales
)

# A locale with a decimal comma, so the tests can show that numbers never follow it.
ensure_comma_locale() {
    locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$' && return 0
    local sudo_cmd=()
    [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
    "${sudo_cmd[@]}" localedef -i de_DE -f UTF-8 de_DE.UTF-8 2>/dev/null || true
}
trap ensure_comma_locale EXIT

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
