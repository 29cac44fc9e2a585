#include "CauseFile.h"

#include <QFile>

namespace vts::causefile {

QString fileName(int portIndex) { return QStringLiteral("mordax%1.why").arg(portIndex); }

QString clean(const QString& text, const QStringList& secrets) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const bool control = c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
                             c == QChar::ParagraphSeparator;
        out += control ? QChar(u' ') : c;
    }
    for (const QString& secret : secrets) {
        if (!secret.trimmed().isEmpty()) out.replace(secret, QStringLiteral("***"));
    }
    out = out.simplified();
    if (out.size() > kMaxCause) out = out.left(kMaxCause - 3) + QStringLiteral("...");
    return out;
}

bool append(const QString& path, int slot, const QString& cause) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append)) return false;
    const QByteArray line = (QString::number(slot) + u'\t' + clean(cause) + u'\n').toUtf8();
    return f.write(line) == line.size();
}

QHash<int, QString> read(const QString& path) {
    QHash<int, QString> causes;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return causes;
    const QByteArray bytes = f.read(kMaxFileBytes);
    for (const QByteArray& line : bytes.split('\n')) {
        const qsizetype tab = line.indexOf('\t');
        if (tab <= 0) continue;
        bool ok = false;
        const int slot = line.left(tab).toInt(&ok);
        const QString cause = clean(QString::fromUtf8(line.mid(tab + 1)));
        if (ok && slot > 0 && !cause.isEmpty()) causes.insert(slot, cause);
    }
    return causes;
}

}  // namespace vts::causefile
