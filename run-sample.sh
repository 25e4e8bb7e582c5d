#!/usr/bin/env bash
# The bundled sample: builds the tools, renders samples/sinclair.tap as a recording in TAPE/ and
# decodes it there, as the program does with a recording in its TAPE directory.
set -euo pipefail
cd "$(dirname "$0")"
bash tests/install-deps.sh --native-only
cmake -S . -B build >/dev/null
cmake --build build -j2 --target quorvane-tapgen quorvane-decode >/dev/null
mkdir -p TAPE
build/tools/quorvane-tapgen samples/sinclair.tap TAPE/sinclair.pcm
build/app/quorvane-decode TAPE/sinclair.pcm
