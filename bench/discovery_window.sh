#!/usr/bin/env bash
# The discovery benchmark for the window: bench/discovery.sh --window.
#   bench/discovery_window.sh [BIN_DIR] [CAMERAS] [RUNS]
exec "$(dirname "$0")/discovery.sh" --window "$@"
