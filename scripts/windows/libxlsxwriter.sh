# libxlsxwriter as a DLL with its own minizip, over the zlib of Debian's libz-mingw-w64-dev.
cmake -G Ninja -S "$src" -B "$work" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_INSTALL_PREFIX="$out" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
  -DBUILD_TESTS=OFF -DBUILD_EXAMPLES=OFF -DUSE_SYSTEM_MINIZIP=OFF >"$work.configure.log"
cmake --build "$work" --parallel "$jobs" >/dev/null
cmake --install "$work" >/dev/null
