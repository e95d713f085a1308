#!/usr/bin/env bash
# Draws the banner (bitmap 130, 493 x 58, and the same drawing for 144 and 192 DPI: bitmaps 131,
# 740 x 87, and 132, 986 x 116) and the icon (icon 128: 64, 48, 32, 24 and 16 pixels, 32 bits)
# with ImageMagick. Each banner is drawn at its own size, none scaled from another; they are
# kept as 256-colour run-length bitmaps, which the installer's size allows. The results are
# kept in the repository; run this only to change the artwork.
set -euo pipefail
cd "$(dirname "$0")"
font=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
shield="path 'M 32,4 L 56,12 L 56,30 C 56,46 44,56 32,61 C 20,56 8,46 8,30 L 8,12 Z'"
tick="line 22,33 29,41 line 29,41 44,24"

# The shield drawn `size` pixels wide on a transparent canvas.
draw_shield() {
  local size=$1 out=$2 k
  k=$(echo "$size / 64" | bc -l)
  convert -size "${size}x${size}" xc:none \
    -fill '#E8731A' -stroke '#8A3A05' -strokewidth 2 -draw "scale $k,$k $shield" \
    -fill none -stroke white -strokewidth 5 -draw "scale $k,$k $tick" \
    "$out"
}

# The icon: the shield at 64 pixels, each smaller size from it.
draw_shield 64 shield64.png
for s in 48 32 24 16; do convert shield64.png -resize ${s}x${s} shield$s.png; done
convert shield64.png shield48.png shield32.png shield24.png shield16.png ../zuno.ico

# The banner: a deep blue band with the shield and the product name, at `scale` times 96 DPI.
draw_banner() {
  local scale=$1 out=$2
  px() { printf '%.0f' "$(echo "$1 * $scale" | bc -l)"; }
  draw_shield "$(px 46)" banner-shield.png
  convert -size "$(px 493)x$(px 58)" gradient:'#0B3D6B'-'#1F6FB2' \
    banner-shield.png -geometry "+$(px 12)+$(px 6)" -composite \
    -font "$font" -pointsize "$(px 22)" -fill white -annotate "+$(px 68)+$(px 30)" 'Zuno Office Guard' \
    -font "$font" -pointsize "$(px 11)" -fill '#CFE3F5' -annotate "+$(px 69)+$(px 47)" 'Online Setup' \
    -dither None -colors 256 -type Palette -compress RLE BMP3:"$out"
}
draw_banner 1 ../banner.bmp
draw_banner 1.5 ../banner-144.bmp
draw_banner 2 ../banner-192.bmp
rm -f shield*.png banner-shield.png
