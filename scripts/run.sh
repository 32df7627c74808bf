#!/usr/bin/env bash
# Installs what Orbelan needs, builds it and starts the program.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bash "$here/scripts/install-deps.sh"
bash "$here/scripts/build.sh"
exec "$here/build/app/orbelan" "$@"
