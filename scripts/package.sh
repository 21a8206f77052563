#!/usr/bin/env bash
# Builds the Debian packages: libkorvelcom3 (shared library), libkorvelcom-dev, korvelcom (the
# command line and simulator), python3-korvelcom (the Python module), from a shared build for /usr in BUILD_DIR (default build-pkg).
#
#   scripts/package.sh [BUILD_DIR]     the packages, in BUILD_DIR/packages/
#   scripts/package.sh ci [BUILD_DIR]  also proves them, as root on a Debian machine: installs the
#       static build in build/ into a prefix and builds examples/consumer against it with
#       find_package and with pkg-config; then installs the packages with dpkg -i, runs
#       `korvelcom demo` from /usr/bin and builds the consumer against /usr both ways; every
#       consumer pays against the installed simulator.  The packages are removed afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=build
if [ "${1:-}" = ci ]; then
    mode=ci
    shift
fi
build="${1:-build-pkg}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
scripts/deps.sh

cmake -S . -B "$build" -G Ninja -DBUILD_SHARED_LIBS=ON -DCMAKE_INSTALL_PREFIX=/usr \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVEL_BUILD_TESTS=OFF -DKORVEL_BUILD_BENCH=OFF \
    -DKORVEL_BUILD_QT=OFF -DKORVEL_WERROR=ON >/dev/null
cmake --build "$build" -j "$(nproc)" >"$build/build.log" || { cat "$build/build.log"; exit 1; }
rm -rf "$build/packages"
(cd "$build" && cpack -G DEB -B "$PWD/packages" >/dev/null)
debs=("$build"/packages/*.deb)
for deb in "${debs[@]}"; do
    echo "== $(basename "$deb")"
    dpkg-deb -f "$deb" Package Version Architecture Maintainer Section Depends
done
[ "$mode" = ci ] || exit 0

fail() { echo "package.sh: $*" >&2; exit 1; }
work=$(mktemp -d)
sim_pid=""
installed=""
cleanup() {
    [ -z "$sim_pid" ] || kill "$sim_pid" 2>/dev/null || true
    [ -z "$installed" ] || $SUDO dpkg -P python3-korvelcom korvelcom libkorvelcom-dev libkorvelcom3 >/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# start_sim TOOL: starts `TOOL sim` on a new pseudo-terminal, whose path it writes to sim.out.  The
# previous simulator's file goes first: the background job empties it only once it runs, and a
# stale path may by then name another program's pseudo-terminal.
start_sim() {
    rm -f "$work/sim.out"
    "$1" sim --pty --responder payment --quiet >"$work/sim.out" &
    sim_pid=$!
    for _ in $(seq 100); do [ -s "$work/sim.out" ] && break; sleep 0.1; done
}

# pays TOOL CONSUMER: runs the consumer against `TOOL sim` on a new pseudo-terminal.
pays() {
    start_sim "$1"
    local out
    out=$("$2" "$(head -1 "$work/sim.out")") || fail "$2 did not pay: $out"
    kill "$sim_pid" && wait "$sim_pid" || true
    sim_pid=""
    echo "   $out"
}

# consumers PREFIX LABEL: builds the consumer against PREFIX with CMake and with pkg-config and
# has each pay; the headers installed there must also compile one by one on their own.
consumers() {
    local prefix=$1 out=$work/$2 pcdir
    pcdir=$(dirname "$(find "$prefix/lib" -maxdepth 3 -name korvelcom.pc | head -1)")
    for h in $(cd "$prefix/include" && find korvelcom -name '*.h'); do
        echo "#include <$h>" | c++ -std=c++20 -fsyntax-only -Wall -Wextra -Werror \
            $(PKG_CONFIG_PATH=$pcdir pkg-config --cflags korvelcom) -x c++ - || fail "$h alone"
    done
    echo "== consumer, find_package, $prefix"
    cmake -S examples/consumer -B "$out-cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
    cmake --build "$out-cmake" >/dev/null
    pays "$prefix/bin/korvelcom" "$out-cmake/korvelcom-consumer"
    echo "== consumer, pkg-config, $prefix"
    # shellcheck disable=SC2046
    c++ -std=c++20 examples/consumer/main.cpp -o "$out-pc" \
        $(PKG_CONFIG_PATH=$pcdir pkg-config --cflags --libs korvelcom)
    pays "$prefix/bin/korvelcom" "$out-pc"
}

# The shared library exports its public API and nothing of the layers inside.
lib=$(find "$build/src" -name 'libkorvelcom.so.*.*' | head -1)
grep -q 'SONAME.*libkorvelcom\.so\.3\]' <<<"$(readelf -d "$lib")" || fail "no SONAME libkorvelcom.so.3"
grep -q 'Name: KORVELCOM_3' <<<"$(readelf -V "$lib")" || fail "no symbol version KORVELCOM_3"
exported=$(nm -DC --defined-only "$lib")
grep -q 'korvel::KorvelComTools::POSMessage\[abi:cxx11\]()' <<<"$exported" || fail "POSMessage not exported"
if grep -E ' korvel::(link|pos|ext)::' <<<"$exported"; then fail "internal symbols exported"; fi

echo "== static library installed into a prefix"
static=${KORVEL_STATIC_BUILD:-build}  # the README's build; configured here when absent
[ -f "$static/CMakeCache.txt" ] || cmake -S . -B "$static" -G Ninja >/dev/null
cmake --build "$static" -j "$(nproc)" --target korvel_library korvelcom korvel_manpage >/dev/null
cmake --install "$static" --prefix "$work/static" >/dev/null
[ -f "$work/static/share/man/man1/korvelcom.1.gz" ] || fail "manual page not installed"
consumers "$work/static" static

echo "== dpkg -i"
$SUDO dpkg -i "${debs[@]}" >/dev/null
installed=1
[ "$(command -v korvelcom)" = /usr/bin/korvelcom ] || fail "korvelcom is not /usr/bin/korvelcom"
[ -f /usr/share/bash-completion/completions/korvelcom ] || fail "no completion script"
korvelcom demo >"$work/demo.out" || { cat "$work/demo.out"; fail "korvelcom demo failed"; }
tail -3 "$work/demo.out"
consumers /usr usr
grep -Eq 'libkorvelcom\.so\.3 => /(usr/)?lib/' <<<"$(ldd "$work/usr-pc")" || fail "consumer not on /usr/lib"
echo "== python3-korvelcom: the README's five lines, by the system's python3, against the installed simulator"
start_sim korvelcom
out=$(cd "$work" && KORVELCOM_COM1=$(head -1 "$work/sim.out") /usr/bin/python3 -c '
import korvelcom
c = korvelcom.Control()
c.CommPort = 1
c.POSAmount = "00001500"
print(c.POSMessage(), c.EFTposStat, c.ReceiveError)') || fail "the Python lines failed: $out"
kill "$sim_pid" && wait "$sim_pid" || true
sim_pid=""
grep -Eq '^[0-9]{3}00001500.* 0 $' <<<"$out" || fail "the Python lines printed: $out"
echo "   $out"
echo "package.sh: packages proven in ${SECONDS}s"
