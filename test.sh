#!/usr/bin/env bash
# Checks the format and the folder layers, then builds everything (warnings are errors) and runs
# every test: the normal build, then the core libraries again under ASan+UBSan, the threaded
# code under TSan and the parsers under libFuzzer (clang).
set -euo pipefail
cd "$(dirname "$0")"
root=$(pwd)

scripts/install-deps.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
export GST_REGISTRY_FORK=no
summary=()
total_pass=0
total_fail=0

run_ctest() {
    local dir=$1 name=$2
    shift 2
    local log="$dir/ctest.log" rc=0
    (cd "$dir" && ctest --output-on-failure -j"$jobs" "$@") 2>&1 | tee "$log" || rc=$?
    local line pass fail count
    line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n1 || true)
    if [ -n "$line" ]; then
        fail=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
        count=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
        pass=$((count - fail))
    else
        pass=0
        fail=1
        rc=1
    fi
    total_pass=$((total_pass + pass))
    total_fail=$((total_fail + fail))
    summary+=("$name: $pass passed, $fail failed")
    return "$rc"
}

status=0

echo "== format (clang-format-14) and folder layers"
if git ls-files -z '*.c' '*.cpp' '*.h' '*.hpp' | xargs -0 clang-format-14 --dry-run --Werror; then
    summary+=("format: clean")
else
    summary+=("format: files differ from .clang-format")
    status=1
fi
mkdir -p build
if python3 scripts/include-matrix.py >build/include-matrix.log; then
    summary+=("layers: no folders reaching each other or into the server")
else
    tail -n 20 build/include-matrix.log
    summary+=("layers: see build/include-matrix.log")
    status=1
fi

echo "== build (RelWithDebInfo)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORLUND_WERROR=ON >/dev/null
cmake --build build -j"$jobs"
run_ctest build main || status=1

echo "== core libraries under AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVORLUND_SANITIZE=address -DVORLUND_WERROR=ON >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_ctest build-asan asan || status=1

echo "== threaded code under ThreadSanitizer"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVORLUND_SANITIZE=thread -DVORLUND_WERROR=ON >/dev/null
cmake --build build-tsan -j"$jobs"
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 run_ctest build-tsan tsan -L tsan || status=1

echo "== parsers under libFuzzer"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVORLUND_FUZZ=ON -DVORLUND_WERROR=ON >/dev/null
cmake --build build-fuzz -j"$jobs"
if [ -n "$(cd build-fuzz && ctest -N -L fuzz | grep -E '^ *Test +#' || true)" ]; then
    run_ctest build-fuzz fuzz -L fuzz || status=1
fi

echo
for line in "${summary[@]}"; do echo "  $line"; done
echo "tests: $total_pass passed, $total_fail failed"
exit "$status"
