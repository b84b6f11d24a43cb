#!/usr/bin/env bash
# Draws the pictures of GatewayControl.exe into resources/: the tray icons running.ico (101) and
# stopped.ico (105), the plain tray symbol tray_symbol.ico (108), each 16, 24, 32 and 48 pixels,
# and the About picture about.bmp (104). The symbol is a gateway arch on a rounded tile; the
# running icon adds a green round badge with a play triangle, the stopped icon greys the tile and
# adds a red square badge with a bar, so the two differ at 16 pixels by shape as well as colour.
# Run it again after changing a drawing and commit the results; the build only uses the
# committed files. Needs ImageMagick and the DejaVu fonts (fonts-dejavu-core).
set -euo pipefail
out_dir=$(cd "$(dirname "$0")/../resources" && pwd)
# The About picture's pixel size is fixed beside its dialog; read it from there.
about_w=$(awk '/#define ABOUT_PICTURE_WIDTH/ { print $3 }' "$out_dir/strings.h")
about_h=$(awk '/#define ABOUT_PICTURE_HEIGHT/ { print $3 }' "$out_dir/strings.h")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Maps points of the 32-unit drawing onto the size being drawn: px SIZE X Y [X Y ...]
px() {
  local size=$1
  shift
  awk -v s="$size" -v list="$*" 'BEGIN {
    n = split(list, v, " ")
    for (i = 1; i < n; i += 2) printf "%s%g,%g", (i > 1 ? " " : ""), v[i] * s / 32, v[i + 1] * s / 32
  }'
}

# Each drawing step appends its ImageMagick options to the array "draw".
# The tile with the arch: tile SIZE FILL STROKE
tile() {
  local s=$1
  draw+=(-fill "$2" -stroke "$3" -strokewidth "$(awk -v s="$s" 'BEGIN { print (s < 32 ? 1 : s / 32) }')"
    -draw "roundrectangle $(px "$s" 1 1 30 30) $(px "$s" 5 5)"
    -fill white -stroke none
    -draw "rectangle $(px "$s" 7 6 24 10)"
    -draw "rectangle $(px "$s" 7 9 11 24)"
    -draw "rectangle $(px "$s" 20 9 24 24)")
}

running_badge() {
  local s=$1
  draw+=(-fill '#2fb344' -stroke '#14532d'
    -draw "circle $(px "$s" 23 23 23 14.5)"
    -fill white -stroke none
    -draw "polygon $(px "$s" 20 18.5 20 27.5 27.5 23)")
}

stopped_badge() {
  local s=$1
  draw+=(-fill '#d03030' -stroke '#6b0f0f'
    -draw "rectangle $(px "$s" 15 15 31 31)"
    -fill white -stroke none
    -draw "rectangle $(px "$s" 18 21.5 28 24.5)")
}

for size in 16 24 32 48; do
  draw=()
  tile "$size" '#1f4e8c' '#0d2747'
  convert -size "${size}x${size}" xc:none "${draw[@]}" "$work/tray_symbol_$size.png"
  running_badge "$size"
  convert -size "${size}x${size}" xc:none "${draw[@]}" "$work/running_$size.png"
  draw=()
  tile "$size" '#7a8190' '#3b4150'
  stopped_badge "$size"
  convert -size "${size}x${size}" xc:none "${draw[@]}" "$work/stopped_$size.png"
done
# The same drawing large, for the About picture.
draw=()
tile 144 '#1f4e8c' '#0d2747'
running_badge 144
convert -size 144x144 xc:none "${draw[@]}" "$work/running_144.png"
for name in tray_symbol running stopped; do
  convert "$work/${name}_16.png" "$work/${name}_24.png" "$work/${name}_32.png" "$work/${name}_48.png" \
    "$out_dir/$name.ico"
done

# The About picture: the symbol large on a deep blue ground, the product's name below it.
convert -size "${about_w}x${about_h}" gradient:'#0d2747-#2a64b0' \
  "$work/running_144.png" -gravity north -geometry +0+40 -composite \
  -font DejaVu-Sans-Bold -pointsize 24 -fill white -annotate +0+205 'KELVARO Quendra' \
  -font DejaVu-Sans -pointsize 16 -fill '#cfe0f5' -annotate +0+243 'Gateway Control' \
  -pointsize 11 -annotate +0+290 'Starts, stops and watches the gateway' \
  -annotate +0+306 'from the notification area' \
  -alpha off -type TrueColor "BMP3:$out_dir/about.bmp"
echo "wrote running.ico, stopped.ico, tray_symbol.ico and about.bmp in $out_dir"
