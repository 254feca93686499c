# Sourced by the server benchmarks: builds `build` (Release, with benchmarks) and the targets named
# in $targets, then starts a private server in a temporary folder $work, stopped and removed at the
# end. Sets build, batch, work, server (its connection string) and a psql that stops at an error.
build=${BUILD:-build-bench}
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTALVESK_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
# shellcheck disable=SC2086 # the targets are words
cmake --build "$build" -j "$(nproc)" --target talvesk-batch $targets >/dev/null
batch=${BATCH:-$build/app/talvesk-batch}
work=$(mktemp -d)
chmod 755 "$work"
server=$(bash scripts/postgres.sh start "$work/pg")
trap 'bash scripts/postgres.sh stop "$work/pg" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
psql() { command psql -X -q -v ON_ERROR_STOP=1 "$@"; }
