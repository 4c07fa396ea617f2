#!/usr/bin/env bash
# Times pyFAI's fastest 1-D integration and our integration kernels on the
# same images in one run, and prints the ratios.
#
#   [REPEATS=r] [THREADS=n] bench/compare_pyfai.sh [SIZES...]   (default: 1024 2048 4096)
#
# pyFAI comes from Debian (python3-pyfai), installed here when missing. Our
# side: bench/compare_kernels, built in build/ (RelWithDebInfo), with the
# default worker threads; pyFAI gets the same number of OpenMP threads. Both
# integrate the same square pattern into the same number of 1-pixel radial
# bins (the full profile to the farthest corner less nine pixels). For pyFAI:
# integrate1d_legacy (or integrate1d where that is missing), method
# ("no", "csr", "cython"): no pixel splitting, its sparse matrix built by a
# first call and cached, no solid-angle correction; the fastest of REPEATS
# calls. (The plain string "csr" would split pixels and run about 1.5 times
# slower.)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1024 2048 4096)
repeats=${REPEATS:-7}
# THREADS=n fixes our worker threads and pyFAI's OpenMP threads (0: the machine's).
threads_arg=${THREADS:-0}
# The system interpreter: Debian's packages live there, not in any other python3 on PATH.
py=/usr/bin/python3

if ! "$py" -c 'import pyFAI' 2>/dev/null; then
  echo "installing python3-pyfai (Debian)" >&2
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q python3-pyfai >/dev/null
fi

if [ ! -f "$root/build/build.ninja" ]; then
  cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$root/build" --target compare_kernels >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "times in ms (fastest of $repeats); ratios: pyFAI over ours (above 1: ours is faster), sector kernels over plain"
echo "sectors: 0.5 to 2.5 rad (sect, sel), 0.3 to 6.0 (wide, wel), 5.5 to 1.0 across the wrap (wrap, wrel); el: elliptical"
printf '%5s %5s %3s | %7s %7s %7s | %6s %6s | %6s %6s %6s %6s %6s %6s\n' \
  size bins thr pyFAI plain ellip pyF/pl pyF/el sect wide wrap sel wel wrel
for n in "${sizes[@]}"; do
  ours=$("$root/build/bench/compare_kernels" "$n" "$work/image.f32" "$repeats" "$threads_arg")
  get() { awk -v k="$1" '$1 == k { print $2 }' <<< "$ours"; }
  bins=$(get bins) threads=$(get threads)
  pyfai=$(OMP_NUM_THREADS=$threads "$py" - "$work/image.f32" "$n" "$(get cx)" "$(get cy)" "$bins" "$repeats" <<'PY'
import sys, time, warnings
import numpy
warnings.filterwarnings("ignore")
import logging
logging.disable(logging.WARNING)
from pyFAI.azimuthalIntegrator import AzimuthalIntegrator

path, n, cx, cy, bins, repeats = sys.argv[1], int(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4]), int(sys.argv[5]), int(sys.argv[6])
image = numpy.fromfile(path, dtype=numpy.float32).reshape(n, n)  # [y, x]
pixel = 1e-4  # metres; with r in mm, 0.1 mm = 1 pixel
ai = AzimuthalIntegrator(dist=0.1, poni1=cy * pixel, poni2=cx * pixel, pixel1=pixel, pixel2=pixel)
integrate = getattr(ai, "integrate1d_legacy", ai.integrate1d)
kw = dict(unit="r_mm", method=("no", "csr", "cython"), correctSolidAngle=False, radial_range=(0.0, bins * 0.1))
integrate(image, bins, **kw)  # builds and caches the sparse matrix
best = float("inf")
for _ in range(repeats):
    t0 = time.perf_counter()
    integrate(image, bins, **kw)
    best = min(best, (time.perf_counter() - t0) * 1000.0)
print("%.3f" % best)
PY
)
  awk -v n="$n" -v b="$bins" -v t="$threads" -v f="$pyfai" '
    { v[$1] = $2 }
    END {
      p = v["plain"]; e = v["elliptical"]
      printf "%5d %5d %3d | %7.2f %7.2f %7.2f | %6.2f %6.2f |", n, b, t, f, p, e, f / p, f / e
      printf " %6.2f %6.2f %6.2f %6.2f %6.2f %6.2f\n", v["sector"] / p, v["sector_wide"] / p,
        v["sector_wrap"] / p, v["sector_elliptical"] / p, v["sector_elliptical_wide"] / p,
        v["sector_elliptical_wrap"] / p
    }' <<< "$ours"
  echo "$ours" | awk '$1 ~ /^sector/ { printf "  %s %s ms", $1, $2 } END { print "" }'
done
