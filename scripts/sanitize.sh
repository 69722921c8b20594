#!/usr/bin/env bash
# The tests again under the sanitizers: the whole project with
# AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/), every test;
# then with ThreadSanitizer (build-tsan/), the engine and window tests and the
# hardening tests that run threads. Exits non-zero when anything fails.
#
# JOBS (default 2) sets the parallel build and test jobs.
set -euo pipefail
cd "$(dirname "$0")/.."

export LC_ALL=C.UTF-8
export QT_QPA_PLATFORM=offscreen
jobs=${JOBS:-2}
status=0

step() { printf '\n== %s (%ds so far)\n' "$1" "$SECONDS"; }

step "AddressSanitizer + UndefinedBehaviorSanitizer: build"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQB_SANITIZE=address,undefined >/dev/null
cmake --build build-asan -j"$jobs"
step "AddressSanitizer + UndefinedBehaviorSanitizer: every test"
(cd build-asan && ctest --output-on-failure -j"$jobs") || status=1

tsan_tests=(tst_threadobject tst_renamepass tst_folderscan tst_mainwindowjobs tst_mainwindow
            tst_hardening_faults)
step "ThreadSanitizer: build"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DQB_SANITIZE=thread >/dev/null
cmake --build build-tsan -j"$jobs" --target "${tsan_tests[@]}"
step "ThreadSanitizer: engine, window and threaded hardening tests"
pattern="^($(IFS='|'; echo "${tsan_tests[*]}"))\$"
(cd build-tsan && ctest --output-on-failure -j"$jobs" -R "$pattern") || status=1

step "done: $([ $status -eq 0 ] && echo all passed || echo FAILURES)"
exit $status
