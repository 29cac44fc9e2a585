#pragma once

// --help and --version for the programs that take no options of their own
// (or parse them without QCommandLineParser). Called at the top of main,
// before the application object, so neither answer needs a display, a store
// or a lock.
namespace vts {

// The suite's version, as the build states it ("3.0").
const char* suiteVersion();

// When argv holds "--help" (or "-h") or "--version", writes `usage` or
// "PROGRAM (Vantrel) VERSION" to standard output and returns 0, the exit
// status the caller ends with; otherwise returns -1 and the program goes on.
int handleHelpAndVersion(int argc, char** argv, const char* program, const char* usage);

}  // namespace vts
