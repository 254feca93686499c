# SQLite as one static library, from the amalgamation that the source tree makes on the host.
# The preupdate hook is what the journal records rows with; the rest follows Debian's own build.
(cd "$work" && "$src/configure" --disable-tcl >/dev/null && make -s sqlite3.c >/dev/null)
cflags=(-O2 -DNDEBUG -DSQLITE_ENABLE_PREUPDATE_HOOK -DSQLITE_ENABLE_COLUMN_METADATA
  -DSQLITE_ENABLE_FTS3 -DSQLITE_ENABLE_FTS3_PARENTHESIS -DSQLITE_ENABLE_FTS4 -DSQLITE_ENABLE_FTS5
  -DSQLITE_ENABLE_RTREE -DSQLITE_ENABLE_DBSTAT_VTAB -DSQLITE_ENABLE_UNLOCK_NOTIFY
  -DSQLITE_SECURE_DELETE -DSQLITE_THREADSAFE=1 -DSQLITE_ENABLE_MATH_FUNCTIONS)
x86_64-w64-mingw32-gcc-posix "${cflags[@]}" -c "$work/sqlite3.c" -o "$work/sqlite3.o"
mkdir -p "$out/include" "$out/lib"
x86_64-w64-mingw32-ar rcs "$out/lib/libsqlite3.a" "$work/sqlite3.o"
cp "$work/sqlite3.h" "$work/sqlite3ext.h" "$out/include/"
