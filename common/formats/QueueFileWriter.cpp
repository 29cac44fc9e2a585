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

bool QueueFileWriter::nameInUse(const QString& name) {
    // The subfolders are looked up once per writer; the name is then tried
    // in every spelling of its letters by stat alone. Listing a folder per
    // name (what a case-blind look-up of a missing name costs) made each
    // page as slow as the sent folder is large.
    if (m_folders.isEmpty()) {
        for (const char* sub : {"", "/PENDING", "/SENT", "/FAILED"}) {
            const QString f = paths::resolve(m_queue + QString::fromLatin1(sub));
            if (QFileInfo(f).isDir()) {
                m_folders << f;
            }
        }
    }
    QList<qsizetype> letters;
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (name[i].isLetter()) {
            letters << i;
        }
    }
    if (letters.size() > 8) {  // not a name this writer makes; look it up the slow way
        for (const QString& folder : m_folders) {
            if (paths::exists(name, folder)) {
                return true;
            }
        }
        return false;
    }
    for (const QString& folder : m_folders) {
        for (int mask = 0; mask < (1 << letters.size()); ++mask) {
            QString spelled = name;
            for (qsizetype b = 0; b < letters.size(); ++b) {
                const QChar c = name[letters[b]];
                spelled[letters[b]] = (mask >> b) & 1 ? c.toLower() : c.toUpper();
            }
            if (QFileInfo::exists(folder + QLatin1Char('/') + spelled)) {
                return true;
            }
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
    const QStringList names = writeAll({page}, error);
    return names.value(0);
}

QStringList QueueFileWriter::writeAll(const QList<QueueMessage>& pages, QString* error) {
    auto fail = [error](const QString& why) {
        if (error) {
            *error = why;
        }
        return QStringList();
    };
    for (const QueueMessage& page : pages) {
        const QString problem = queuefile::validate(page);
        if (!problem.isEmpty()) {
            return fail(problem);
        }
    }
    const QString folder = paths::resolve(m_queue);
    if (!QFileInfo(folder).isDir()) {
        return fail(QStringLiteral("no queue folder at %1").arg(m_queue));
    }

    // First every file under its temporary name: a full disk or a refused
    // write shows here, before any page is visible to the server.
    QStringList temps;
    auto removeTemps = [&temps] {
        for (const QString& t : temps) {
            QFile::remove(t);
        }
    };
    for (const QueueMessage& page : pages) {
        const QString tmpName =
            QStringLiteral(".%1-%2-%3.tmp")
                .arg(tempPrefix())
                .arg(QCoreApplication::applicationPid())
                .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
        const QString tmpPath = QDir(folder).filePath(tmpName);
        bool created = false;
        const QString writeError = writeDurably(tmpPath, queuefile::encode(page), &created);
        if (created) {
            temps << tmpPath;
        }
        if (!writeError.isEmpty()) {
            removeTemps();
            return fail(QStringLiteral("cannot write %1: %2").arg(tmpPath, writeError));
        }
    }

    // Then each one named. Should a name fail, the ones already named are
    // taken back, so the pages are queued all together or not at all.
    QStringList names;
    for (const QString& tmpPath : temps) {
        QString why;
        const QString name = publish(folder, tmpPath, &why);
        if (name.isEmpty()) {
            for (const QString& done : names) {
                QFile::remove(QDir(folder).filePath(done));
            }
            removeTemps();
            return fail(why);
        }
        names << name;
    }
    return names;
}

QString QueueFileWriter::publish(const QString& folder, const QString& tmpPath, QString* error) {
    const QString stamp =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmsszzz"));
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
            *error = QStringLiteral("cannot name %1 in %2: %3")
                         .arg(name, m_queue, QString::fromLocal8Bit(std::strerror(errno)));
            return {};
        }
    }
    *error = QStringLiteral("no free file name in %1").arg(m_queue);
    return {};
}

}  // namespace vts
