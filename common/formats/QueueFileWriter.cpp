#include "QueueFileWriter.h"

#include "Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace vts {

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

QString QueueFileWriter::write(const QueueMessage& page, QString* error) {
    auto fail = [error](const QString& why) {
        if (error) {
            *error = why;
        }
        return QString();
    };
    const QString problem = queuefile::validate(page);
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
    const QString writeError = writeDurably(tmpPath, queuefile::encode(page), &created);
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
