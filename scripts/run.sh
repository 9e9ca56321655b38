#!/usr/bin/env bash
# Installs what is missing, builds and starts the console.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/deps.sh"
"$top/scripts/build.sh" build
exec "$top/build/src/app/kx880"
