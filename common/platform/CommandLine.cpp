#include "CommandLine.h"

#include "Version.h"

#include <QCommandLineParser>

#include <cstdio>

namespace vts::cli {

namespace {

// "Usage: vtspage [options] text..." and a pointer to the full text.
QString usageLine(const QCommandLineParser& parser, const char* program) {
    const QString help = parser.helpText();
    QString first = help.section(QLatin1Char('\n'), 0, 0);
    // The parser names the program by the path it was started with.
    const QString name = first.section(QLatin1Char(' '), 1, 1);
    if (!name.isEmpty()) first.replace(name, QString::fromLocal8Bit(program));
    return first + QStringLiteral("\nTry '%1 --help' for more information.\n")
                       .arg(QString::fromLocal8Bit(program));
}

}  // namespace

int refuseOptions(int argc, char** argv, const char* program, const char* usage) {
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] == '-') {
            std::fprintf(stderr, "%s: unknown option %s\n%s", program, argv[i], usage);
            return kUsageStatus;
        }
    }
    return -1;
}

int parse(QCommandLineParser& parser, const QStringList& arguments, const char* program) {
    // Option values may begin with a dash ("--text -5"): only a word the
    // parser does not know as an option is refused.
    if (!parser.parse(arguments)) return refuse(parser, program, parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("%s (Vantrel) %s\n", program, suiteVersion());
        return 0;
    }
    return -1;
}

int refuse(const QCommandLineParser& parser, const char* program, const QString& why) {
    std::fprintf(stderr, "%s: %s\n%s", program, why.toLocal8Bit().constData(),
                 usageLine(parser, program).toLocal8Bit().constData());
    return kUsageStatus;
}

}  // namespace vts::cli
