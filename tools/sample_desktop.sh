#!/bin/bash
# Makes a sample desktop picture WIDTHxHEIGHT at OUT: a seeded colour fractal with a few
# window-like panels and stripes, so ripples have detail to bend. Same picture every time.
set -euo pipefail
out=$1 size=${2:-1920x1080}
w=${size%x*} h=${size#*x}
/usr/bin/convert -seed 7 -size "${size}" plasma:fractal -blur 0x2 \
  -fill '#f4f1e8' -stroke '#203040' -strokewidth 3 -draw "rectangle $((w/10)),$((h/8)) $((w*45/100)),$((h*55/100))" \
  -fill '#2a6fb0' -draw "rectangle $((w/10)),$((h/8)) $((w*45/100)),$((h/8+28))" \
  -fill '#e0a030' -draw "rectangle $((w*55/100)),$((h*40/100)) $((w*90/100)),$((h*85/100))" \
  -fill '#303030' -draw "rectangle 0,$((h-40)) $w,$h" \
  -stroke none -fill '#ffffff' -draw "circle $((w*3/4)),$((h/5)) $((w*3/4+60)),$((h/5))" \
  -fill none -stroke '#102030' -strokewidth 2 \
  -draw "path 'M $((w/10+20)),$((h/8+60)) L $((w*43/100)),$((h/8+60)) M $((w/10+20)),$((h/8+90)) L $((w*40/100)),$((h/8+90)) M $((w/10+20)),$((h/8+120)) L $((w*42/100)),$((h/8+120))'" \
  -type TrueColor "$out"
