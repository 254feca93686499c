#pragma once

#include <QString>

namespace talvesk::platform {

// The path of the program `name` ("talvesk-report") installed in the running program's folder,
// with the system's suffix for programs.
QString programBeside(const QString &name);

// What the whole process is set up with before anything else runs, in each program's start-up:
// a write past a file-size limit fails like any other write (where the system would end the
// program by a signal), and the memory settings the engine and the C library work best with.
// Called once, before the first database is opened.
void prepareProcess();

} // namespace talvesk::platform
