#!/usr/bin/env bash
# Builds the libFuzzer harnesses (preset "fuzz", clang with ASan+UBSan) and
# runs each for SECONDS (default 60), one after another on one core.
#
#   tools/fuzz.sh [SECONDS] [HARNESS...]
#
# Harnesses: fuzz_open_check fuzz_compact fuzz_decoders fuzz_repair (default: all).
# Seeds: the sample databases of ../shared/corpus (when present), small
# catalogs made by tessmark-cli generate, the kept regression inputs, and
# slices of the samples for the decoders. The
# growing corpora live in build/fuzz/corpus/<harness>; anything found is
# written to build/fuzz/artifacts/ and the script exits 1. Keep a finding
# as a regression input in tests/reliability/regressions/ once it is fixed.
# Environment: FUZZ_TIMEOUT seconds per input before it counts as a hang
# (default 1; a timeout is re-run and dropped when it does not reproduce),
# FUZZ_RSS_MB (default 2048), FUZZ_MALLOC_MB (default 1024).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
harnesses=("$@")
[ ${#harnesses[@]} -eq 0 ] && harnesses=(fuzz_open_check fuzz_compact fuzz_decoders fuzz_repair)

if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz: clang++ is not installed; skipped"
  exit 0
fi
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j 2 --target "${harnesses[@]}" tessmark-cli

out=build/fuzz
corpus_src=../shared/corpus
regressions=tests/reliability/regressions
mkdir -p "$out/artifacts" "$out/seeds/databases" "$out/seeds/decoders"

# Whole databases up to 300 KB (bigger ones make every run slow).
if [ -d "$corpus_src" ]; then
  find "$corpus_src" -name '*.mdb' -size -300k -exec cp -f {} "$out/seeds/databases/" \;
  python3 tools/fuzz_seeds.py "$corpus_src" "$out/seeds/decoders"
else
  echo "fuzz: $corpus_src is missing; seeding with the regression inputs only"
fi

# Small generated catalogs of both kinds and formats, aged with deleted and
# moved rows, one encrypted, one with stale pages.
gen="$out/seeds/databases"
for jet in 3 4; do
  for kind in server client; do
    f="$gen/generated-$kind-jet$jet.mdb"
    [ -f "$f" ] || "$out/cli/tessmark-cli" generate --kind $kind --jet $jet --rows 40 \
        --deleted 20% --moved 10% --seed 7 --quiet "$f" || echo "fuzz: could not generate $f"
  done
done
[ -f "$gen/generated-server-jet4-rc4.mdb" ] || "$out/cli/tessmark-cli" generate --kind server \
    --rows 40 --encrypt --seed 8 --quiet "$gen/generated-server-jet4-rc4.mdb" || true
# Pages a rewritten table left behind: owned, out of its usage map.
[ -f "$gen/generated-server-jet4-stale.mdb" ] || "$out/cli/tessmark-cli" generate --kind server \
    --rows 40 --deleted 20% --stale 20% --seed 9 --quiet "$gen/generated-server-jet4-stale.mdb" || true

[ -d "$gen" ] && python3 tools/fuzz_seeds.py "$gen" "$out/seeds/decoders"

status=0
timeout=${FUZZ_TIMEOUT:-1}
for h in "${harnesses[@]}"; do
  mkdir -p "$out/corpus/$h"
  seeds=("$out/seeds/databases")
  [ "$h" = fuzz_decoders ] && seeds=("$out/seeds/decoders")
  [ -d "$regressions" ] && seeds+=("$regressions")
  echo "== $h for ${seconds}s"
  touch "$out/.started-$h"
  if ! "$out/tests/fuzz/$h" "$out/corpus/$h" "${seeds[@]}" \
      -dict=tests/fuzz/jet.dict -max_total_time="$seconds" -timeout="$timeout" \
      -rss_limit_mb="${FUZZ_RSS_MB:-2048}" -malloc_limit_mb="${FUZZ_MALLOC_MB:-1024}" \
      -max_len=307200 -print_final_stats=1 -artifact_prefix="$out/artifacts/$h-" \
      2> "$out/$h.log"; then
    # On a busy machine an input may miss the time limit once; a timeout
    # counts only when the input is slow again on its own.
    real=0
    for a in $(find "$out/artifacts" -type f -newer "$out/.started-$h"); do
      if [[ "$a" == *-timeout-* ]] &&
          "$out/tests/fuzz/$h" "$a" -timeout="$timeout" -runs=3 >/dev/null 2>&1; then
        echo "fuzz: $h: the timeout of $a did not reproduce (machine load); dropped"
        rm -f "$a"
      else
        real=1
      fi
    done
    if [ "$real" = 1 ] || ! grep -q 'ERROR: libFuzzer: timeout' "$out/$h.log"; then
      echo "fuzz: $h found a problem; see $out/$h.log and $out/artifacts/"
      tail -n 40 "$out/$h.log"
      status=1
    fi
  fi
  grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$out/$h.log" || true
done
exit $status
