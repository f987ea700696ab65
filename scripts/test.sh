#!/usr/bin/env bash
# Runs every test program of the build that Wine runs here, inside one Wine session.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
echo "test: running the $KESTROVA_WINE_ARCH build in ${KESTROVA_RUN_BUILD#$KESTROVA_ROOT/} under Wine"
exec "$KESTROVA_ROOT/scripts/wine-session.sh" ctest --test-dir "$KESTROVA_RUN_BUILD" --output-on-failure "$@"
