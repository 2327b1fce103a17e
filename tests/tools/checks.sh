# Sourced by the tools' shell tests: a scratch folder, one line per check and
# the closing count.
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
passed=0
failed=0

ok() { echo "ok:   $*"; passed=$((passed + 1)); }
bad() { echo "FAIL: $*"; failed=$((failed + 1)); }
# check NAME COMMAND...: one line for the outcome of COMMAND.
check() {
    local name=$1
    shift
    if "$@"; then ok "$name"; else bad "$name"; fi
}
# finish: "N passed, M failed", and the exit status.
finish() {
    echo "$passed passed, $failed failed"
    ((failed == 0))
}
