# The benchmarks' synthetic corpus (deterministic), made once per scale:
#   source bench/corpus.sh; make_corpus SCALE FOLDER   (1: full size, 10: a tenth)
# name width height: 14 JPEG photos 4000x3000, 6 PNG 1920x1080, 2 TIFF, 2 GIF,
# 2 BMP and one 8000x6000 JPEG. Every image holds the operations' rectangles.
shapes() {
  for i in $(seq -w 1 14); do echo "photo$i.jpg 4000 3000"; done
  for i in 1 2 3 4 5 6; do echo "screen$i.png 1920 1080"; done
  echo "scan1.tif 2400 1800"; echo "scan2.tif 2400 1800"
  echo "anim1.gif 1600 1200"; echo "anim2.gif 1600 1200"
  echo "paint1.bmp 2000 1500"; echo "paint2.bmp 2000 1500"
  echo "huge.jpg 8000 6000"
}

make_corpus() { # scale folder
  local scale=$1 corpus=$2 seed=1
  [ -f "$corpus/.complete" ] && return
  echo "bench: making the corpus in $corpus (once)..." >&2
  rm -rf "$corpus"; mkdir -p "$corpus"
  shapes | while read -r name w h; do
    w=$((w / scale)) h=$((h / scale))
    # Plasma is noisy like a photo; the seed makes it the same every time.
    convert -size "${w}x${h}" -seed "$seed" plasma:fractal -quality 92 "$corpus/$name"
    seed=$((seed + 1))
  done
  touch "$corpus/.complete"
}
