#!/usr/bin/env bash
# The loopback demo: builds Dorvane, prepares a demo directory beside the
# program (configuration in loopback mode, a product catalogue, a firmware
# package), starts a fleet of simulated devices on UDP, then starts the
# program. In the window: Open -> pick the .qfwp package in the demo
# directory; the devices say hello and appear in the grid; Hot Start (or wait
# for the countdown); the devices are updated and the simulator reports each
# device's image. Close the window (or Ctrl-C) to end; the simulator's report
# is then printed.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
source scripts/deps.sh
install_build_deps
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/release -j"$(nproc)" --target Dorvane dorvane-devsim dorvane-package

demo=$root/build/demo
rm -rf "$demo"
mkdir -p "$demo"
cp build/release/console/Dorvane "$demo/"

cat > "$demo/LoRaHost.cfg" <<'CFG'
[HOST]
Time Out=1
[DEBUG]
HOST=1
Success Rate=90
[DEVICE]
Transfert Mode=0
Jammer Mode=1
CFG

cat > "$demo/LoRaHostEmbeddedProducts.json" <<'JSON'
[
  {
    "embedded product name": "DEMO",
    "transfer buffer size": 64,
    "displayed product name": "Demo sensor"
  }
]
JSON

# A 2 KiB memory image at 0x8000, as TI-TXT.
image=$demo/image.txt
{
  echo "@8000"
  line=""
  for ((i = 0; i < 2048; i++)); do
    line+=$(printf '%02X' $(((i * 37 + 11) & 0xFF)))
    if ((i % 16 == 15)); then echo "$line"; line=""; else line+=" "; fi
  done
  echo "q"
} > "$image"
build/release/tools/package/dorvane-package pack "$image" --product DEMO --version 1.1.0.0 --directory "$demo"

echo
echo "Demo directory: $demo"
echo "Open the package $(ls "$demo"/*.qfwp) in the window, then press Hot Start."
echo

build/release/tools/devsim/dorvane-devsim --devices 8 --product DEMO --version 1.0.0.0 \
  --image "$image" --run-time 3600 --hello-interval 2000 --quiet > "$demo/devsim-report.txt" &
devsim=$!
trap 'exit 130' INT TERM
trap 'kill $devsim 2>/dev/null || true; wait $devsim 2>/dev/null || true; echo "Simulated devices:"; cat "$demo/devsim-report.txt"' EXIT

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  "$demo/Dorvane"
else
  echo "No display: the window runs on a virtual X display (Xvfb); stop it with Ctrl-C."
  xvfb-run -a -s "-screen 0 1024x768x24" "$demo/Dorvane"
fi
