#pragma once

#include "QueueFile.h"

#include <QString>

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

private:
    bool nameInUse(const QString& name) const;
    QString m_queue;
};

}  // namespace vts
