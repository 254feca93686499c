#pragma once

namespace talvesk::platform {

// What the whole process is set up with before anything else runs, in each program's start-up:
// a write past a file-size limit fails like any other write (where the system would end the
// program by a signal), and the memory settings the engine and the C library work best with.
// Called once, before the first database is opened.
void prepareProcess();

} // namespace talvesk::platform
