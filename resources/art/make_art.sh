#!/usr/bin/env bash
# Draws the banner (bitmap 130, 493 x 58, 24 bits) and the icon (icon 128: 64, 48, 32, 24
# and 16 pixels, 32 bits) with ImageMagick. The results are kept in the repository; run this
# only to change the artwork.
set -euo pipefail
cd "$(dirname "$0")"
font=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
shield="path 'M 32,4 L 56,12 L 56,30 C 56,46 44,56 32,61 C 20,56 8,46 8,30 L 8,12 Z'"

# The shield on a transparent 64 x 64 canvas, then each icon size from it.
convert -size 64x64 xc:none \
  -fill '#E8731A' -stroke '#8A3A05' -strokewidth 2 -draw "$shield" \
  -fill none -stroke white -strokewidth 5 -draw "line 22,33 29,41" -draw "line 29,41 44,24" \
  shield64.png
for s in 48 32 24 16; do convert shield64.png -resize ${s}x${s} shield$s.png; done
convert shield64.png shield48.png shield32.png shield24.png shield16.png \
  ../zuno.ico

# The banner: a deep blue band with the shield and the product name.
convert -size 493x58 gradient:'#0B3D6B'-'#1F6FB2' \
  \( shield64.png -resize 46x46 \) -geometry +12+6 -composite \
  -font "$font" -pointsize 22 -fill white -annotate +68+30 'Zuno Office Guard' \
  -font "$font" -pointsize 11 -fill '#CFE3F5' -annotate +69+47 'Online Setup' \
  -type TrueColor -define bmp:format=bmp3 BMP3:../banner.bmp
rm -f shield*.png
