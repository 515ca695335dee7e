#!/usr/bin/env bash
# Runs the plug-in on two sample photographs through the tintbridge command:
# a warm still matched to a cool night scene in each preserve mode, a
# Same Frame match of a picture to a graded copy of itself, and a camera pan
# over the warm still matched with each analysis choice, with how much each
# flickers from frame to frame. Everything goes to demo-out/.
#   demo/demo.sh BUILD_DIR
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:?usage: demo/demo.sh BUILD_DIR}" && pwd)
TB="$BUILD/cli/tintbridge"
FLICKER="$BUILD/bench/tools/tintbridge-flicker"
OUT="$ROOT/demo-out"
CACHE="${TINTBRIDGE_SAMPLE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tintbridge-samples}"

[ -x "$TB" ] || { echo "demo: $TB not built" >&2; exit 1; }
[ -x "$FLICKER" ] || { echo "demo: $FLICKER not built" >&2; exit 1; }
command -v oiiotool >/dev/null || { echo "demo: oiiotool (openimageio-tools) is missing" >&2; exit 1; }

"$TB" describe
echo

# The samples: public-domain photographs in the data folder of Debian's
# scikit-image package, unpacked without installing it or its dependencies.
fetch_samples() {
  [ -f "$CACHE/coffee.png" ] && [ -f "$CACHE/rocket.jpg" ] && return 0
  echo "Fetching the sample photographs (Debian package python3-skimage)..."
  local tmp
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' RETURN
  if ! (cd "$tmp" && apt-get download -qq python3-skimage >/dev/null 2>&1); then
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    (cd "$tmp" && apt-get download -qq python3-skimage >/dev/null)
  fi
  dpkg-deb -x "$tmp"/python3-skimage_*.deb "$tmp/x"
  local data
  data=$(dirname "$(find "$tmp/x" -path '*skimage/data/coffee.png' | head -n 1)")
  mkdir -p "$CACHE"
  cp "$data/coffee.png" "$data/rocket.jpg" "$CACHE/"
}
fetch_samples

rm -rf "$OUT"
mkdir -p "$OUT"
SRC="$CACHE/coffee.png"
REF="$CACHE/rocket.jpg"

for preserve in none brightness colors; do
  echo "== Different Clips, preserve $preserve: coffee.png matched to rocket.jpg"
  "$TB" match "$SRC" "$REF" -o "$OUT/coffee-as-rocket-$preserve.png" --preserve "$preserve" \
    --cube "$OUT/coffee-as-rocket-$preserve.cube" --cdl "$OUT/coffee-as-rocket-$preserve.cdl" \
    --compare "$OUT/compare-$preserve.jpg"
  echo
done

echo "== Same Frame: coffee.png matched to a graded copy of itself"
"$TB" grade "$SRC" -o "$OUT/coffee-graded.png" --slope 0.82,0.98,1.22 --offset 0.01,0.02,0.05 \
  --power 1.15,1.05,0.95 --saturation 0.75
"$TB" match "$SRC" "$OUT/coffee-graded.png" -o "$OUT/coffee-regraded.png" --mode same \
  --cube "$OUT/coffee-regraded.cube" --cdl "$OUT/coffee-regraded.cdl" --compare "$OUT/compare-same-frame.jpg"
echo

# A camera pan: a 384x216 window moving 4 px right and 2 px down a frame over
# coffee.png, 48 frames, matched to the still rocket.jpg with each analysis
# choice. The frame-to-frame difference is the mean CIEDE2000 between each
# frame and the next over the picture both show.
PAN_FRAMES=48
PAN_LAST=$((PAN_FRAMES - 1))
PAN="$OUT/pan"
mkdir -p "$PAN"
echo "== A pan over coffee.png ($PAN_FRAMES frames, 4,2 px a frame) matched to rocket.jpg, each analysis choice"
cut=()
for ((k = 0; k < PAN_FRAMES; k++)); do
  cut+=(--dup --cut "384x216+$((4 * k))+$((2 * k))" -o "$PAN/source.$(printf %04d "$k").png" --pop)
done
oiiotool "$SRC" "${cut[@]}"
for choice in every range rolling; do
  "$TB" match "$PAN/source.%04d.png" "$REF" -o "$PAN/$choice.%04d.png" --frames "0-$PAN_LAST" \
    --analysis "$choice" --analysis-frames 12 --analysis-window 12 --depth 16 --quiet
  printf '  %-8s frame to frame: ' "$choice"
  "$FLICKER" --step 4,2 "$PAN/$choice.%04d.png" --frames "0-$PAN_LAST" --csv "$PAN/$choice.csv" | tail -n 1
done
# One table: from,to and the difference of each choice.
awk -F, 'FNR == 1 { file++; next }
         { key[FNR] = $1 "," $2; value[file, FNR] = $3; if (FNR > rows) rows = FNR }
         END { print "from,to,every,range,rolling"
               for (r = 2; r <= rows; r++) print key[r] "," value[1, r] "," value[2, r] "," value[3, r] }' \
  "$PAN/every.csv" "$PAN/range.csv" "$PAN/rolling.csv" >"$OUT/pan-flicker.csv"
rm -f "$PAN/every.csv" "$PAN/range.csv" "$PAN/rolling.csv"
if command -v python3 >/dev/null; then
  python3 "$ROOT/demo/plot_flicker.py" "$OUT/pan-flicker.csv" "$OUT/pan-flicker.svg"
fi
echo

echo "Done. Everything is in $OUT:"
(cd "$OUT" && ls -l | tail -n +2 | awk '{printf "  %-34s %8d bytes\n", $9, $5}')
echo "Look at the comparison pictures first: $OUT/compare-*.jpg"
