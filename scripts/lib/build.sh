# Configures (once) and builds the project into $BENCH_BUILD (default build/):
# build_all builds everything, build_all TARGET... only those targets.
# build_host does the same for the host build in $HOST_BUILD (default
# build-host/, the preset "host"): the line engine and the I2C master with
# their suites and the native bench, built with the host compiler.
# build_win64 builds the same sources as 64-bit Windows programs into
# $WIN64_BUILD (default build-win64/, cmake/mingw-x86_64.cmake): not shipped,
# their suites run where the machine runs no 32-bit programs.
BENCH_ROOT=${BENCH_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
BENCH_BUILD=${BENCH_BUILD:-$BENCH_ROOT/build}
HOST_BUILD=${HOST_BUILD:-$BENCH_ROOT/build-host}
WIN64_BUILD=${WIN64_BUILD:-$BENCH_ROOT/build-win64}

if [[ -f "$BENCH_ROOT/scripts/lib/coupler.sh" ]]; then
  # shellcheck source=/dev/null
  source "$BENCH_ROOT/scripts/lib/coupler.sh"
fi

# _build_windows BUILD TOOLCHAIN [TARGET...]: configures (once) and builds.
_build_windows() {
  local build=$1 toolchain=$2
  shift 2
  if [[ ! -f "$build/build.ninja" ]]; then
    cmake -S "$BENCH_ROOT" -B "$build" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$BENCH_ROOT/cmake/$toolchain.cmake" \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  fi
  mkdir -p "$build"
  # Builds from several shells of one checkout take turns.
  (
    flock 8
    cmake --build "$build" ${1:+--target "$@"} -- -j2
  ) 8>"$build/.build.lock"
}

build_all() {
  _build_windows "$BENCH_BUILD" mingw-i686 "$@" || return 1
  if declare -F coupler_build >/dev/null; then
    coupler_build
  fi
}

build_win64() {
  _build_windows "$WIN64_BUILD" mingw-x86_64 "$@"
}

build_host() {
  if [[ ! -f "$HOST_BUILD/build.ninja" ]]; then
    cmake -S "$BENCH_ROOT" -B "$HOST_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  fi
  (
    flock 8
    cmake --build "$HOST_BUILD" ${1:+--target "$@"} -- -j2
  ) 8>"$HOST_BUILD/.build.lock"
}

# count_tests BUILD [ctest arguments]: how many tests of BUILD the arguments select.
count_tests() {
  local build=$1
  shift
  ctest --test-dir "$build" -N "$@" | sed -n 's/^Total Tests: //p'
}
