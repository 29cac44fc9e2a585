#include "Journal.h"

#include <sys/stat.h>

#include <cstdlib>

namespace vts::journal {

bool streamMatches(const QByteArray& journalStream, dev_t device, ino_t inode) {
    const qsizetype colon = journalStream.indexOf(':');
    if (colon <= 0) return false;
    bool okDevice = false;
    bool okInode = false;
    const qulonglong d = journalStream.left(colon).toULongLong(&okDevice);
    const qulonglong i = journalStream.mid(colon + 1).toULongLong(&okInode);
    return okDevice && okInode && d == static_cast<qulonglong>(device) &&
           i == static_cast<qulonglong>(inode);
}

bool attached(int fd) {
    const char* env = std::getenv("JOURNAL_STREAM");
    if (env == nullptr) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0) return false;
    return streamMatches(QByteArray(env), st.st_dev, st.st_ino);
}

QByteArray line(int priority, const QString& text, bool journal) {
    QByteArray out;
    if (journal) out = '<' + QByteArray::number(priority) + '>';
    return out + text.toLocal8Bit();
}

void write(std::FILE* out, int priority, const QString& text) {
    const QByteArray bytes = line(priority, text, attached(fileno(out)));
    std::fprintf(out, "%s\n", bytes.constData());
    std::fflush(out);
}

}  // namespace vts::journal
