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

if ((floor)); then
  convert "$in" -quality 85 -crop 1400x900+200+100 +repage -write "$outdir/c_$stem.JPG" \
    -geometry 800x600 "$outdir/c_$stem.$ext"
  convert "$in" -quality 80 -geometry 1024x "$outdir/${stem}_w1024.$ext"
  convert "$in" -quality 75 -crop 1000x1000+0+0 +repage -write "$outdir/${stem}_sq.PNG" \
    -geometry '256x256!' "$outdir/${stem}_sq.$ext"
  exit 0
fi

# 1: Extract (200,100)-(1599,999) LimitWidthHeight (800*600) Prefix: "c_" Format: "JPG" Quality: "85"
t=$outdir/c_$stem.$ext
identify -format %wx%h -ping "$in[0]" >/dev/null
convert -quality 85 -crop 1400x900+200+100 +repage "$in" "$t"
mogrify -quality 85 -format JPG "$t"
mogrify -quality 85 -geometry 800x600 "$t"

# 2: Extract Whole Image LimitWidth (1024) Suffix: "_w1024" Quality: "80"
t=$outdir/${stem}_w1024.$ext
identify -format %wx%h -ping "$in[0]" >/dev/null
cp "$in" "$t"
mogrify -quality 80 -geometry 1024x "$t"

# 3: Extract (0,0)-(999,999) FixToSize (256*256) Suffix: "_sq" Format: "PNG" Quality: "75"
t=$outdir/${stem}_sq.$ext
identify -format %wx%h -ping "$in[0]" >/dev/null
convert -quality 75 -crop 1000x1000+0+0 +repage "$in" "$t"
mogrify -quality 75 -format PNG "$t"
mogrify -quality 75 -geometry '256x256!' "$t"
