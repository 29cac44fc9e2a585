#include "PageCommand.h"

#include "CommandLine.h"
#include "Conversions.h"
#include "FilePages.h"
#include "QueueFileWriter.h"
#include "TextFile.h"
#include "Version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QSysInfo>

#include <cstdio>

namespace {

// What the server would refuse of `page` once it took it from the queue:
// a text page without text, a text longer than the dialer sends, a UCP page,
// a text file that cannot be read or is too long. Empty when none of these.
// A relative text file name is the server's to resolve (from its working
// directory), so only an absolute one is looked at here.
QString serverRefusal(const vts::QueueMessage& page) {
    const qint64 maxBytes = vts::filepages::kMaxBytes;
    if (page.method == QLatin1String("UCP")) {
        return QStringLiteral("the server does not send UCP pages; use TAP");
    }
    if (page.kind() == vts::PageKind::Alphanumeric) {
        if (page.message.trimmed().isEmpty()) return QStringLiteral("no message text");
        if (vts::text::toWin1252(page.message).size() > maxBytes) {
            return QStringLiteral("the message is longer than %1 characters").arg(maxBytes);
        }
        return {};
    }
    QString name = vts::conv::trim(page.method);
    name.replace(u'\\', u'/');
    if (!name.startsWith(u'/')) return {};
    const QFileInfo file(name);
    if (!file.isFile() || !file.isReadable()) {
        return QStringLiteral("the text file %1 is not a readable file").arg(name);
    }
    if (file.size() > maxBytes) {
        return QStringLiteral("the text file %1 is larger than %2 bytes").arg(name).arg(maxBytes);
    }
    return {};
}

}  // namespace

namespace vts::page {

int run(const QStringList& arguments, const char* program, const QString& defaultQueue) {
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral("Writes one page into a Vantrel queue folder."));
    p.addHelpOption();
    QCoreApplication::setApplicationVersion(QString::fromLatin1(vts::suiteVersion()));
    p.addVersionOption();
    auto opt = [&p](const QString& name, const QString& help, const QString& value = QString(),
                    const QString& def = QString()) {
        QCommandLineOption o(name, help, value, def);
        p.addOption(o);
        return o;
    };
    const auto queue = opt(QStringLiteral("queue"), QStringLiteral("queue folder (required)"),
                           QStringLiteral("dir"));
    const auto method =
        opt(QStringLiteral("method"), QStringLiteral("TAP, UCP or the name of a text file"),
            QStringLiteral("m"), QStringLiteral("TAP"));
    const auto computer = opt(QStringLiteral("computer"), QStringLiteral("client computer name"),
                              QStringLiteral("name"));
    const auto clientPath = opt(QStringLiteral("client-path"),
                                QStringLiteral("client database location"), QStringLiteral("path"));
    const auto sender = opt(QStringLiteral("sender"), QStringLiteral("sender's user name"),
                            QStringLiteral("name"), QStringLiteral("DEMO"));
    const auto department = opt(QStringLiteral("department"), QStringLiteral("sender's department"),
                                QStringLiteral("text"));
    const auto recipient =
        opt(QStringLiteral("recipient"), QStringLiteral("recipient name"), QStringLiteral("name"));
    const auto phone =
        opt(QStringLiteral("phone"), QStringLiteral("paging service number (required)"),
            QStringLiteral("number"));
    const auto pin =
        opt(QStringLiteral("pin"), QStringLiteral("pager PIN (required)"), QStringLiteral("pin"));
    const auto password = opt(QStringLiteral("password"), QStringLiteral("paging service password"),
                              QStringLiteral("text"));
    const auto block = opt(QStringLiteral("block-size"),
                           QStringLiteral("characters per block (0: service default)"),
                           QStringLiteral("n"), QStringLiteral("0"));
    const auto serial = opt(QStringLiteral("serial"), QStringLiteral("serial settings"),
                            QStringLiteral("text"), QStringLiteral("1200,E,7,1"));
    const auto init = opt(QStringLiteral("init"), QStringLiteral("modem initialisation string"),
                          QStringLiteral("text"), QStringLiteral("ATZ"));
    const auto dial = opt(QStringLiteral("dial"), QStringLiteral("modem dial string"),
                          QStringLiteral("text"), QStringLiteral("ATDT"));
    const auto email =
        opt(QStringLiteral("email"), QStringLiteral("e-mail address"), QStringLiteral("addr"));
    const auto smtp =
        opt(QStringLiteral("smtp"), QStringLiteral("mail server"), QStringLiteral("host"));
    const auto reverse =
        opt(QStringLiteral("reverse"), QStringLiteral("set the reverse-order flag"));
    p.addPositionalArgument(QStringLiteral("text"), QStringLiteral("message text"),
                            QStringLiteral("text..."));
    if (const int done = vts::cli::parse(p, arguments, program); done >= 0) {
        return done;
    }

    auto die = [&p, program](const QString& why) { return vts::cli::refuse(p, program, why); };
    if (!p.isSet(queue) && defaultQueue.isEmpty()) {
        return die(QStringLiteral("--queue is required"));
    }
    if (!p.isSet(phone) || !p.isSet(pin)) {
        return die(QStringLiteral("--phone and --pin are required"));
    }
    bool ok = false;
    const int blockSize = p.value(block).toInt(&ok);
    if (!ok) {
        return die(QStringLiteral("--block-size takes a number"));
    }

    vts::QueueMessage r;
    r.method = p.value(method);
    r.computer = p.isSet(computer) ? p.value(computer) : QSysInfo::machineHostName().toUpper();
    r.clientPath = p.value(clientPath);
    r.sender = p.value(sender);
    r.department = p.value(department);
    r.recipient = p.value(recipient);
    r.sentTime = QDateTime::currentDateTime();
    r.tapPhoneNumber = p.value(phone);
    r.tapPin = p.value(pin);
    r.password = p.value(password);
    r.blockSize = blockSize;
    r.serialSettings = p.value(serial);
    r.modemInit = p.value(init);
    r.modemDial = p.value(dial);
    r.email = p.value(email);
    r.smtpServer = p.value(smtp);
    r.reverseOrder = p.isSet(reverse);
    r.message = vts::queuefile::oneLine(p.positionalArguments().join(QLatin1Char(' ')));
    if (const QString why = serverRefusal(r); !why.isEmpty()) {
        return die(why);
    }

    QString error;
    const QString name =
        vts::QueueFileWriter(p.isSet(queue) ? p.value(queue) : defaultQueue).write(r, &error);
    if (name.isEmpty()) {
        return die(error);
    }
    std::printf("%s\n", name.toLocal8Bit().constData());
    return 0;
}

}  // namespace vts::page
