# Sourced by the measurement scripts: the tuvactl and tuva-sim of build directory $1 (default
# build/release), refusing to go on when either has not been built.
tuvactl=${1:-build/release}/src/cli/tuvactl
sim=${1:-build/release}/src/sim/tuva-sim
for program in "$tuvactl" "$sim"; do
  [ -x "$program" ] || { echo "missing $program: build tuvactl and tuva-sim first" >&2; exit 2; }
done
