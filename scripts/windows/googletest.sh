# GoogleTest for the test programs, as static libraries.
cmake -G Ninja -S "$src" -B "$work" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_INSTALL_PREFIX="$out" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF \
  -Dgtest_disable_pthreads=OFF >"$work.configure.log"
cmake --build "$work" --parallel "$jobs" >/dev/null
cmake --install "$work" >/dev/null
