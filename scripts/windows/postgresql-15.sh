# libpq, PostgreSQL's client library, as a DLL with its import library; of the server's source tree
# only libpq and the parts of src/port and src/common it is linked with are built.
# The office's server is reached over a socket on its own LAN, so no TLS, GSSAPI/Kerberos or LDAP
# service lookup; readline, ICU and zlib serve only the server and psql.
# A DLL rather than a static library: on Windows libpq carries its own pthread_mutex_lock and
# pthread_mutex_unlock over a mutex type of its own, which a static link would put in place of
# winpthreads' for the whole program (std::mutex included). The DLL exports only libpq's own API.
(cd "$work" && "$src/configure" --host=x86_64-w64-mingw32 CC=x86_64-w64-mingw32-gcc-posix \
  CXX=x86_64-w64-mingw32-g++-posix --prefix="$out" --without-readline --without-zlib --without-icu \
  --without-ldap --without-gssapi --without-llvm --without-libxml --without-libxslt --without-lz4 \
  --without-zstd >"$work.configure.log")
# src/common includes headers that the server's tree generates (error codes among them).
make -s -C "$work/src/backend" generated-headers >/dev/null
# The DLL is linked with the _shlib forms of both libraries and names the plain ones after them.
make -s -C "$work/src/port" -j"$jobs" libpgport_shlib.a libpgport.a >/dev/null
make -s -C "$work/src/common" -j"$jobs" libpgcommon_shlib.a libpgcommon.a >/dev/null
# Both were made just above; libpq's own prerequisite would make their server forms as well.
make -s -C "$work/src/interfaces/libpq" -j"$jobs" SHLIB_PREREQS= all-lib >/dev/null

mkdir -p "$out/bin" "$out/lib/pkgconfig" "$out/include"
x86_64-w64-mingw32-strip --strip-unneeded -o "$out/bin/libpq.dll" "$work/src/interfaces/libpq/libpq.dll"
cp "$work/src/interfaces/libpq/libpq.a" "$out/lib/libpq.dll.a"
cp "$src/src/interfaces/libpq/libpq-fe.h" "$src/src/interfaces/libpq/libpq-events.h" \
  "$src/src/include/postgres_ext.h" "$work/src/include/pg_config_ext.h" "$out/include/"
pg_version="$(sed -n 's/^#define PG_VERSION "\(.*\)"$/\1/p' "$work/src/include/pg_config.h")"
# The DLL brings its own Windows imports (ws2_32, secur32, shell32), so a link needs only libpq.
cat >"$out/lib/pkgconfig/libpq.pc" <<EOF
prefix=$out
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: libpq
Description: PostgreSQL client library
Version: $pg_version
Libs: -L\${libdir} -lpq
Cflags: -I\${includedir}
EOF
