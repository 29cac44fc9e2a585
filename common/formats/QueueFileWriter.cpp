#include "QueueFileWriter.h"

#include "Conversions.h"
#include "Paths.h"
#include "TextFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace vts {

QStringList QueueFileWriter::lines(const PageRequest& p) {
    const QDateTime sent = p.sentTime.isValid() ? p.sentTime : QDateTime::currentDateTime();
    QStringList out{p.method,
                    p.computer,
                    p.clientPath,
                    p.sender,
                    p.department,
                    p.recipient,
                    conv::formatDateTime(sent),
                    p.phoneNumber,
                    p.pin,
                    p.password,
                    QString::number(p.blockSize),
                    p.serialSettings,
                    p.modemInit,
                    p.modemDial,
                    p.email,
                    p.smtpServer,
                    p.reverseOrder ? QStringLiteral("1") : QStringLiteral("0"),
                    QString(),
                    QString(),
                    QString(),
                    QString(),
                    QString()};
    QString text = p.message;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (!text.isEmpty()) {
        out << text.split(QLatin1Char('\n'));
    }
    return out;
}

QString QueueFileWriter::validate(const PageRequest& p) {
    const QList<std::pair<const char*, const QString*>> single{
        {"method", &p.method},
        {"computer", &p.computer},
        {"client path", &p.clientPath},
        {"sender", &p.sender},
        {"department", &p.department},
        {"recipient", &p.recipient},
        {"phone number", &p.phoneNumber},
        {"PIN", &p.pin},
        {"password", &p.password},
        {"serial settings", &p.serialSettings},
        {"modem init string", &p.modemInit},
        {"modem dial string", &p.modemDial},
        {"e-mail", &p.email},
        {"SMTP server", &p.smtpServer}};
    for (const auto& [name, value] : single) {
        if (value->contains(QLatin1Char('\r')) || value->contains(QLatin1Char('\n'))) {
            return QStringLiteral("the %1 must be one line").arg(QString::fromLatin1(name));
        }
    }
    if (conv::trim(p.phoneNumber).size() > 30) {
        return QStringLiteral("the phone number is longer than 30 characters");
    }
    if (conv::trim(p.pin).size() > 20) {
        return QStringLiteral("the PIN is longer than 20 characters");
    }
    if (p.blockSize < 0 || p.blockSize > 32767) {
        return QStringLiteral("the block size must be 0 to 32767");
    }
    return {};
}

bool QueueFileWriter::nameInUse(const QString& name) const {
    for (const char* sub : {"\\", "\\PENDING\\", "\\SENT\\", "\\FAILED\\"}) {
        if (paths::exists(paths::join(m_queue, QString::fromLatin1(sub), name))) {
            return true;
        }
    }
    return false;
}

namespace {

// Writes the bytes into a new file and forces them to the disk, so a file
// renamed into the queue afterwards is complete even after a power cut.
// Returns an empty text on success, else why not; *created tells whether the
// file was made (and must be removed again).
QString writeDurably(const QString& path, const QByteArray& bytes, bool* created) {
    QFile f(path);
    *created = false;
    if (!f.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        return f.errorString();
    }
    *created = true;
    if (f.write(bytes) != bytes.size() || !f.flush()) {
        return f.errorString();
    }
    if (::fsync(f.handle()) != 0) {
        return QString::fromLocal8Bit(std::strerror(errno));
    }
    f.close();
    return f.error() == QFileDevice::NoError ? QString() : f.errorString();
}

QString tempPrefix() {
    const QString app = QCoreApplication::applicationName();
    return app.isEmpty() ? QStringLiteral("queuefile") : app;
}

}  // namespace

QByteArray QueueFileWriter::encode(const PageRequest& page) {
    QByteArray out;
    for (const QString& l : lines(page)) {
        out += text::toWin1252(l);
        out += "\r\n";
    }
    return out;
}

QString QueueFileWriter::write(const PageRequest& page, QString* error) {
    auto fail = [error](const QString& why) {
        if (error) {
            *error = why;
        }
        return QString();
    };
    const QString problem = validate(page);
    if (!problem.isEmpty()) {
        return fail(problem);
    }
    const QString folder = paths::resolve(m_queue);
    if (!QFileInfo(folder).isDir()) {
        return fail(QStringLiteral("no queue folder at %1").arg(m_queue));
    }

    const QString stamp =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmsszzz"));
    const QString tmpName =
        QStringLiteral(".%1-%2-%3.tmp")
            .arg(tempPrefix())
            .arg(QCoreApplication::applicationPid())
            .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
    const QString tmpPath = QDir(folder).filePath(tmpName);
    // From here on every way out that is not a rename removes the temporary
    // file, so a full disk or a failed rename leaves nothing behind.
    bool created = false;
    const QString writeError = writeDurably(tmpPath, encode(page), &created);
    if (!writeError.isEmpty()) {
        if (created) {
            QFile::remove(tmpPath);
        }
        return fail(QStringLiteral("cannot write %1: %2").arg(tmpPath, writeError));
    }

    for (int attempt = 0; attempt < 1000; ++attempt) {
        QString name =
            QStringLiteral("A%1%2.PMF")
                .arg(stamp)
                .arg(QRandomGenerator::global()->bounded(100000), 5, 10, QLatin1Char('0'));
        if (nameInUse(name)) {
            continue;
        }
        // link() refuses an existing target, so two writers never take the
        // same name even when both found it free a moment ago.
        const QByteArray from = QFile::encodeName(tmpPath);
        const QByteArray to = QFile::encodeName(QDir(folder).filePath(name));
        if (::link(from.constData(), to.constData()) == 0) {
            ::unlink(from.constData());
            return name;
        }
        if (errno == EPERM || errno == EOPNOTSUPP || errno == ENOSYS) {
            // A file system without hard links: QFile::rename() still
            // refuses a target that exists.
            if (QFile::rename(tmpPath, QDir(folder).filePath(name))) {
                return name;
            }
            continue;
        }
        if (errno != EEXIST) {
            const QString why =
                QStringLiteral("cannot name %1 in %2: %3")
                    .arg(name, m_queue, QString::fromLocal8Bit(std::strerror(errno)));
            QFile::remove(tmpPath);
            return fail(why);
        }
    }
    QFile::remove(tmpPath);
    return fail(QStringLiteral("no free file name in %1").arg(m_queue));
}

}  // namespace vts
