#pragma once

#include "QueueFile.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

namespace vts {

// Writes queue message files the way a careful client does: the whole file
// under a temporary name that the server never collects, then one rename to
// a fresh "A*.PMF" name that is not used in the queue folder or any of its
// three subfolders. The server therefore never reads half a file. The
// temporary name is ".<program>-<pid>-<random>.tmp". vtspage and vtsgate both
// write through this class.
class QueueFileWriter final {
public:
    explicit QueueFileWriter(QString queueFolder) : m_queue(std::move(queueFolder)) {}

    // Writes the file (queuefile::encode, after queuefile::validate);
    // returns its final name, or an empty text and *error. On every failure
    // the temporary file is removed again.
    QString write(const QueueMessage& page, QString* error = nullptr);
    // Writes several files all or nothing: every temporary file first, then
    // the names; on a failure none of the pages stays in the queue folder.
    // Returns the names in the order of `pages`, or none and *error.
    QStringList writeAll(const QList<QueueMessage>& pages, QString* error = nullptr);

private:
    bool nameInUse(const QString& name);
    // Gives a written temporary file its fresh queue name; empty and *error
    // when it cannot (the temporary file is left for the caller).
    QString publish(const QString& folder, const QString& tmpPath, QString* error);
    QString m_queue;
    QStringList m_folders;  // the queue folder and its subfolders, resolved once
};

}  // namespace vts
