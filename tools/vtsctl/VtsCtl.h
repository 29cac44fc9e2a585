#pragma once

#include <QString>
#include <QStringList>

#include <cstdio>

// vtsctl: the shell's face of the suite. Each command works on the stores
// and files of a working directory through the same libraries as the
// configuration program and the report engine, so every check is the one
// those make. Exit status: 0 success, 1 failure, 2 a wrong command line.
namespace vts::ctl {

struct Streams {
    std::FILE* out = stdout;
    std::FILE* err = stderr;
};

QString usage();

// Runs one command line (without the program's name) in `workDir`.
int run(const QStringList& args, const QString& workDir, const Streams& io = {});

}  // namespace vts::ctl
