# Configures (once) and builds the project into $BENCH_BUILD (default build/):
# build_all builds everything, build_all TARGET... only those targets.
# build_host does the same for the host build in $HOST_BUILD (default
# build-host/, the preset "host"): the line engine and the I2C master with
# their suites and the native bench, built with the host compiler.
BENCH_ROOT=${BENCH_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
BENCH_BUILD=${BENCH_BUILD:-$BENCH_ROOT/build}
HOST_BUILD=${HOST_BUILD:-$BENCH_ROOT/build-host}

if [[ -f "$BENCH_ROOT/scripts/lib/coupler.sh" ]]; then
  # shellcheck source=/dev/null
  source "$BENCH_ROOT/scripts/lib/coupler.sh"
fi

build_all() {
  if [[ ! -f "$BENCH_BUILD/build.ninja" ]]; then
    cmake -S "$BENCH_ROOT" -B "$BENCH_BUILD" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$BENCH_ROOT/cmake/mingw-i686.cmake" \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  fi
  mkdir -p "$BENCH_BUILD"
  # Builds from several shells of one checkout take turns.
  (
    flock 8
    cmake --build "$BENCH_BUILD" ${1:+--target "$@"} -- -j2
  ) 8>"$BENCH_BUILD/.build.lock"
  if declare -F coupler_build >/dev/null; then
    coupler_build
  fi
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
