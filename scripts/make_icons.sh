#!/usr/bin/env bash
# Draws the tray symbol of GatewayControl (resources/GatewayControl.ico, 16, 32 and 48 pixels):
# a gateway arch on a blue tile over a green status dot. Run it again after changing the
# drawing and commit the .ico; the build only uses the committed file. Needs ImageMagick.
set -euo pipefail
out_dir=$(cd "$(dirname "$0")/../resources" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Scales the coordinates of the 32-pixel drawing to the size being drawn: px SIZE X Y
px() { awk -v s="$1" -v x="$2" -v y="$3" 'BEGIN { printf "%g,%g", x * s / 32, y * s / 32 }'; }

for size in 16 32 48; do
  convert -size "${size}x${size}" xc:none \
    -fill '#1f4e8c' -stroke '#0d2747' \
    -draw "roundrectangle $(px $size 1 1) $(px $size 30 30) $(px $size 5 5)" \
    -fill white -stroke none \
    -draw "rectangle $(px $size 7 6) $(px $size 24 10)" \
    -draw "rectangle $(px $size 7 9) $(px $size 11 24)" \
    -draw "rectangle $(px $size 20 9) $(px $size 24 24)" \
    -fill '#3ccf4e' \
    -draw "circle $(px $size 15.5 19) $(px $size 15.5 22.5)" \
    "$work/icon_$size.png"
done
convert "$work/icon_16.png" "$work/icon_32.png" "$work/icon_48.png" "$out_dir/GatewayControl.ico"
echo "wrote $out_dir/GatewayControl.ico"
