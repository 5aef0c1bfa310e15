#!/usr/bin/env bash
# Installs what is missing, builds, and starts the updater window.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${RQM5_BUILD_DIR:-$ROOT/build}"
"$ROOT/scripts/setup.sh"
exec "$BUILD/app/rqm5-updater"
