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

namespace {

bool appendLine(const QString& path, int slot, const QString& cause, const char* mark) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append)) return false;
    QByteArray line = (QString::number(slot) + u'\t' + clean(cause)).toUtf8();
    if (mark) line += QByteArray("\t") + mark;
    line += '\n';
    return f.write(line) == line.size();
}

}  // namespace

bool append(const QString& path, int slot, const QString& cause, bool final) {
    return slot > 0 && appendLine(path, slot, cause, final ? "final" : nullptr);
}

bool appendPort(const QString& path, PortFault fault, const QString& why) {
    if (fault == PortFault::None) return false;
    return appendLine(path, 0, why, fault == PortFault::Unusable ? "unusable" : "port");
}

Causes read(const QString& path) {
    Causes causes;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return causes;
    const QByteArray bytes = f.read(kMaxFileBytes);
    for (const QByteArray& line : bytes.split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() < 2 || fields.size() > 3) continue;
        bool ok = false;
        const int slot = fields[0].toInt(&ok);
        const QString cause = clean(QString::fromUtf8(fields[1]));
        const QByteArray mark = fields.size() == 3 ? fields[2].trimmed() : QByteArray();
        if (!ok || cause.isEmpty()) continue;
        if (slot == 0 && (mark == "port" || mark == "unusable")) {
            // An unusable port stays so even when a later line only says
            // it could not reach its carrier.
            if (causes.port != PortFault::Unusable) {
                causes.port = mark == "unusable" ? PortFault::Unusable : PortFault::Unreachable;
                causes.portWhy = cause;
            }
        } else if (slot > 0) {
            causes.pages.insert(slot, cause);
            if (mark == "final") {
                causes.final.insert(slot);
            } else {
                causes.final.remove(slot);
            }
        }
    }
    return causes;
}

}  // namespace vts::causefile
