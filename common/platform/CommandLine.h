#pragma once

#include <QStringList>

class QCommandLineParser;

// One way for every program to treat its command line: --help and --version
// answered on standard output with status 0, an unknown option or an option
// without its value refused with the reason and a usage line on standard
// error and status 2, before the program touches any file.
namespace vts::cli {

// The exit status of a refused command line.
inline constexpr int kUsageStatus = 2;

// For programs without options of their own: returns kUsageStatus after
// writing "PROGRAM: unknown option X" and `usage` to standard error when an
// argument starts with "-" (a lone "-" included); -1 when there is none and
// the program goes on. Call it after handleHelpAndVersion.
int refuseOptions(int argc, char** argv, const char* program, const char* usage);

// Parses `arguments` (the program's name first) with `parser`, which holds
// the program's options and the help and version options. Returns -1 when
// the program goes on; 0 after --help or --version was answered;
// kUsageStatus after a refusal was written.
int parse(QCommandLineParser& parser, const QStringList& arguments, const char* program);

// Writes "PROGRAM: why" and the parser's usage line to standard error and
// returns kUsageStatus, for refusals the program finds after parsing.
int refuse(const QCommandLineParser& parser, const char* program, const QString& why);

}  // namespace vts::cli
