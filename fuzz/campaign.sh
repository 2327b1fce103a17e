#!/usr/bin/env bash
# A fuzzing campaign: each harness of the fuzz preset runs for SECONDS from
# its seeds and from what earlier campaigns found, JOBS at a time (one per
# core by default), then a coverage build replays each harness's corpus and
# reports the line coverage of the code that harness exercises (clang's
# source-based coverage). A benchmark of robustness, not a test: scripts/test runs each
# harness briefly instead.
#
#   fuzz/campaign.sh [-j JOBS] [SECONDS [HARNESS...]]
#                              default: 2 at a time, 3600 s, all five
#
# Corpora stay in build/fuzz-campaign/HARNESS between campaigns; each run's
# log is build/fuzz-campaign/HARNESS.log, anything found is written next to
# it (HARNESS-crash-..., -timeout-..., -oom-...), and the table of the run is
# build/fuzz-campaign/summary.md. Exit status 1 if a harness found anything.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
case ${1:-} in
    -h | --help)
        sed -n '2,15s/^# \{0,1\}//p' "$0"
        exit 0
        ;;
esac
jobs=2
if [[ ${1:-} == -j ]]; then
    jobs=${2:?campaign: -j needs a number}
    shift 2
fi
seconds=${1:-3600}
shift || true
harnesses=("$@")
((${#harnesses[@]})) || harnesses=(jpeg_encode_fuzz tdf_loader_fuzz image_reader_fuzz tdf_dump_fuzz pe_loader_fuzz)

declare -A seeds=([jpeg_encode_fuzz]=jpeg [tdf_loader_fuzz]=tdf [image_reader_fuzz]=image
                  [tdf_dump_fuzz]=tdf_dump [pe_loader_fuzz]=pe)
declare -A memory=([jpeg_encode_fuzz]=2048 [tdf_loader_fuzz]=1024 [image_reader_fuzz]=1024
                   [tdf_dump_fuzz]=1024 [pe_loader_fuzz]=1024)
# The code each harness is there to exercise, for its coverage figure.
declare -A sources=(
    [jpeg_encode_fuzz]="$(ls driver/ljpeg/um/*.cpp | grep -v dll_entry | tr '\n' ' ')"
    [tdf_loader_fuzz]="driver/ddfumif/xl/driver_data_file.cpp driver/ddfumif/xl/error_messages.cpp driver/ddfumif/xl/global_memory.cpp"
    [image_reader_fuzz]="tools/trivjpeg/image_file.cpp tools/trivjpeg/png_file.cpp"
    [tdf_dump_fuzz]="tools/tdftool/tdf_format.cpp"
    [pe_loader_fuzz]="tests/pe/host/pe_image.cpp")

scripts/setup
out=build/fuzz-campaign
mkdir -p "$out"
for preset in fuzz fuzz-coverage; do
    if ! { cmake --preset "$preset" && cmake --build --preset "$preset"; } >"$out/$preset-build.log" 2>&1; then
        echo "campaign: the $preset build failed; see $out/$preset-build.log" >&2
        exit 1
    fi
done

run() {
    local h=$1
    mkdir -p "$out/$h"
    build/fuzz/fuzz/"$h" "$out/$h" "fuzz/corpus/${seeds[$h]}" -max_total_time="$seconds" \
        -timeout=60 -rss_limit_mb="${memory[$h]}" -artifact_prefix="$out/$h-" \
        -print_final_stats=1 >"$out/$h.log" 2>&1 || true
}
echo "campaign: ${#harnesses[@]} harnesses, $seconds s each, $jobs at a time"
running=0
for h in "${harnesses[@]}"; do
    if ((running == jobs)); then wait -n; running=$((running - 1)); fi
    run "$h" &
    running=$((running + 1))
done
wait

{
    echo "| harness | executions | seconds | corpus | line coverage | findings |"
    echo "|---|--:|--:|--:|--:|---|"
    for h in "${harnesses[@]}"; do
        execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$out/$h.log" | tail -n 1)
        secs=$(sed -n 's/^stat::.*//; s/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$out/$h.log" | tail -n 1)
        rm -f "$out/$h.profraw"
        LLVM_PROFILE_FILE="$out/$h.profraw" build/fuzz-coverage/fuzz/"$h" -runs=0 \
            -rss_limit_mb="${memory[$h]}" "$out/$h" "fuzz/corpus/${seeds[$h]}" >/dev/null 2>&1 || true
        llvm-profdata merge -sparse "$out/$h.profraw" -o "$out/$h.profdata"
        # shellcheck disable=SC2086
        cover=$(llvm-cov report build/fuzz-coverage/fuzz/"$h" -instr-profile="$out/$h.profdata" \
                    ${sources[$h]} | awk '/^TOTAL/ { print $(NF - 3) }')
        findings=$(find "$out" -maxdepth 1 -name "$h-*" -newer "$out/fuzz-build.log" | wc -l)
        printf '| %s | %s | %s | %s | %s | %s |\n' "$h" "${execs:-?}" "${secs:-?}" \
            "$(find "$out/$h" -type f | wc -l)" "${cover:-?}" \
            "$( ((findings)) && echo "$findings, see $out" || echo none)"
    done
} | tee "$out/summary.md"
# The table ran in a subshell; its findings are the files it counted.
for h in "${harnesses[@]}"; do
    if [[ -n $(find "$out" -maxdepth 1 -name "$h-*" -newer "$out/fuzz-build.log") ]]; then exit 1; fi
done
