#!/usr/bin/env bash
# Prints the folder of an instruction counter: qemu-i386 and qemu-x86_64
# (user mode) with qemu's instruction-counting plugin, libinsn.so. Builds
# them once from Debian's qemu source, with Debian's patches, into a cache
# outside the repository ($TRIVJPEG_CACHE, default ~/.cache/trivjpeg), so
# that later runs find them there. About four minutes on one core.
#
# Counting under emulation is exact and repeatable, and works where the
# kernel refuses 32-bit programs. `-cpu max` offers AVX2 and BMI2 (no
# AVX-512), so both encoders take their AVX2 paths.
set -euo pipefail

cache=${TRIVJPEG_CACHE:-$HOME/.cache/trivjpeg}/qemu-insn
if [[ -x $cache/qemu-i386 && -x $cache/qemu-x86_64 && -s $cache/libinsn.so ]]; then
    echo "$cache"
    exit 0
fi

log() { echo "insn_counter: $*" >&2; }
sudo=()
((EUID == 0)) || sudo=(sudo)

# The source needs a deb-src entry beside each deb one.
if ! apt-get indextargets --format '$(CREATED_BY)' 2>/dev/null | grep -q '^Sources$'; then
    log "adding deb-src entries"
    for f in /etc/apt/sources.list.d/*.sources; do
        [[ -e $f ]] || continue
        grep -q '^Types:.*deb-src' "$f" || "${sudo[@]}" sed -i 's/^Types: deb$/Types: deb deb-src/' "$f"
    done
    if [[ -f /etc/apt/sources.list ]] && grep -q '^deb ' /etc/apt/sources.list &&
        ! grep -q '^deb-src ' /etc/apt/sources.list; then
        sed -n 's/^deb /deb-src /p' /etc/apt/sources.list | "${sudo[@]}" tee -a /etc/apt/sources.list >/dev/null
    fi
    "${sudo[@]}" apt-get update -qq
fi
log "installing the build dependencies"
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
    dpkg-dev meson ninja-build libglib2.0-dev pkg-config flex bison python3 >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
log "fetching Debian's qemu source"
apt-get source --download-only qemu >/dev/null 2>&1
dpkg-source -x qemu_*.dsc src >/dev/null
mkdir build
cd build
log "configuring"
../src/configure --target-list=i386-linux-user,x86_64-linux-user --enable-plugins \
    --disable-system --disable-tools --disable-docs --disable-werror \
    --disable-install-blobs >configure.log 2>&1 || { tail -20 configure.log >&2; exit 1; }
log "building (a few minutes)"
ninja -j"$(nproc)" qemu-i386 qemu-x86_64 tests/plugin/libinsn.so >ninja.log 2>&1 ||
    { tail -20 ninja.log >&2; exit 1; }
mkdir -p "$cache"
cp qemu-i386 qemu-x86_64 tests/plugin/libinsn.so "$cache/"
echo "$cache"
