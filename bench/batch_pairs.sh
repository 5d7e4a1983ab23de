#!/usr/bin/env bash
# One image through the benchmark's three operations with ImageMagick's own
# programs, one program per step, with the argument lists the batch mode hands
# ImageMagick in process (see batch_ops.vop):
#   batch_pairs.sh IMAGE OUTDIR        the steps the batch mode takes
#   batch_pairs.sh --floor IMAGE OUTDIR one convert per operation: the input decoded
#                                once, every output encoded once
set -euo pipefail
floor=0
if [ "$1" = --floor ]; then floor=1; shift; fi
in=$1 outdir=$2
name=${in##*/} stem=${name%.*} ext=${name##*.}

# The one file of a pair: the format's extension, unless the image is in that
# format already.
result() { # STEM EXT FORMAT
  local e=${2,,} f=${3,,}
  case $e in jpg | jpeg | jpe) e=jpeg ;; tif) e=tiff ;; esac
  case $f in jpg) f=jpeg ;; tif) f=tiff ;; esac
  if [ -z "$3" ] || [ "$e" = "$f" ]; then echo "$1.$2"; else echo "$1.$3"; fi
}
r1=$outdir/$(result "c_$stem" "$ext" JPG)
r2=$outdir/$(result "${stem}_w1024" "$ext" "")
r3=$outdir/$(result "${stem}_sq" "$ext" PNG)
# A JPEG may say it is to be turned; the batch mode asks, as it pings.
orient() { identify -format '%[orientation]' -ping "$in[0]" >/dev/null; }

if ((floor)); then
  convert "$in" -quality 85 -crop 1400x900+200+100 +repage -geometry '800x600>' "$r1"
  convert "$in" -quality 80 -geometry '1024x>' "$r2"
  convert "$in" -quality 75 -crop 1000x1000+0+0 +repage -geometry '256x256!' "$r3"
  exit 0
fi

# Steps in the image's own format, then the format change; only the result stays.
# 1: Extract (200,100)-(1599,999) LimitWidthHeight (800*600) Prefix: "c_" Format: "JPG" Quality: "85"
t=$outdir/c_$stem.$ext
identify -format %wx%h -ping "$in[0]" >/dev/null
orient
convert -quality 85 -crop 1400x900+200+100 +repage "$in" "$t"
mogrify -quality 85 -geometry '800x600>' "$t"
if [ "$t" != "$r1" ]; then mogrify -quality 85 -background white -alpha remove -format JPG "$t" && rm "$t"; fi

# 2: Extract Whole Image LimitWidth (1024) Suffix: "_w1024" Quality: "80"
t=$outdir/${stem}_w1024.$ext
identify -format %wx%h -ping "$in[0]" >/dev/null
orient
cp "$in" "$t"
mogrify -quality 80 -geometry '1024x>' "$t"

# 3: Extract (0,0)-(999,999) FixToSize (256*256) Suffix: "_sq" Format: "PNG" Quality: "75"
t=$outdir/${stem}_sq.$ext
identify -format %wx%h -ping "$in[0]" >/dev/null
orient
convert -quality 75 -crop 1000x1000+0+0 +repage "$in" "$t"
mogrify -quality 75 -geometry '256x256!' "$t"
if [ "$t" != "$r3" ]; then mogrify -quality 75 -format PNG "$t" && rm "$t"; fi
