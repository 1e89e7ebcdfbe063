#!/usr/bin/env bash
# Fuzzes every libFuzzer target (or the ones named) for a given time each.
#   scripts/fuzz.sh [-t SECONDS] [TARGET...]
# New inputs go to build/fuzz-work/TARGET; a finding is left as crash-* in that folder. Seeds are
# read from fuzz/corpus/TARGET; copy an input worth keeping there as a regression.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=600
if [ "${1:-}" = "-t" ]; then seconds=$2; shift 2; fi
if [ "${TUVA_FUZZ_NO_BUILD:-}" != 1 ]; then
  source scripts/deps.sh
  tuva_install_deps "${TUVA_RUN_PACKAGES[@]}" "${TUVA_TEST_PACKAGES[@]}"
  scripts/build-fuzz.sh
fi
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  mapfile -t targets < <(ls fuzz/corpus)
fi
for t in "${targets[@]}"; do
  work=build/fuzz-work/$t
  mkdir -p "$work"
  echo "== $t for ${seconds}s"
  (cd "$work" && "../../fuzz/fuzz/$t" -max_total_time="$seconds" -print_final_stats=1 \
     -max_len=8192 . "../../../fuzz/corpus/$t") 2>&1 | grep -E 'stat::number_of_executed_units|stat::peak_rss|ERROR|SUMMARY|Done' || true
done
