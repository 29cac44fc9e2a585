#include "ReportLayout.h"

#include "Paths.h"
#include "SelectionFormula.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

namespace vts::report {

LayoutError::LayoutError(int line, const QString& message)
    : std::runtime_error((line > 0 ? QStringLiteral("Layout line %1: %2").arg(line).arg(message)
                                   : QStringLiteral("Layout: %1").arg(message))
                             .toStdString()),
      m_line(line),
      m_message(message) {}

int ReportLayout::totalWidth() const {
    int w = 0;
    for (const auto& c : columns) {
        w += c.width + 1;
    }
    return w > 0 ? w - 1 : 0;
}

namespace {

const QString kMagic = QStringLiteral("VantrelLayout 1");

bool parseYesNo(const QString& v, int line, const QString& key) {
    if (v.compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0) {
        return true;
    }
    if (v.compare(QLatin1String("no"), Qt::CaseInsensitive) == 0) {
        return false;
    }
    throw LayoutError(line, QStringLiteral("%1 must be yes or no").arg(key));
}

QString fieldOf(const QString& name, int line) {
    QString f = canonicalLogField(name);
    if (f.isEmpty()) {
        throw LayoutError(line, QStringLiteral("tblLog has no field %1").arg(name));
    }
    return f;
}

}  // namespace

ReportLayout parseLayout(const QString& text) {
    ReportLayout layout;
    bool sawMagic = false;
    bool sawStyle = false;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const int no = i + 1;
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) {
            continue;
        }
        if (!sawMagic) {
            if (line != kMagic) {
                throw LayoutError(no, QStringLiteral("first line must be \"%1\"").arg(kMagic));
            }
            sawMagic = true;
            continue;
        }
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon <= 0) {
            throw LayoutError(no, QStringLiteral("expected \"key: value\""));
        }
        const QString key = line.left(colon).trimmed().toLower();
        const QString value = line.mid(colon + 1).trimmed();
        if (key == QLatin1String("style")) {
            const QString v = value.toLower();
            if (v == QLatin1String("normal")) {
                layout.style = ReportLayout::Style::Normal;
            } else if (v == QLatin1String("fulltext")) {
                layout.style = ReportLayout::Style::FullText;
            } else if (v == QLatin1String("summary")) {
                layout.style = ReportLayout::Style::Summary;
            } else {
                throw LayoutError(no, QStringLiteral("style must be normal, fulltext or summary"));
            }
            sawStyle = true;
        } else if (key == QLatin1String("orientation")) {
            const QString v = value.toLower();
            if (v == QLatin1String("landscape")) {
                layout.landscape = true;
            } else if (v == QLatin1String("portrait")) {
                layout.landscape = false;
            } else {
                throw LayoutError(no, QStringLiteral("orientation must be portrait or landscape"));
            }
        } else if (key == QLatin1String("fontsize")) {
            bool ok = false;
            const int size = value.toInt(&ok);
            if (!ok || size < 5 || size > 16) {
                throw LayoutError(no, QStringLiteral("fontsize must be 5 to 16"));
            }
            layout.fontSize = size;
        } else if (key == QLatin1String("message")) {
            layout.fullMessage = parseYesNo(value, no, key);
        } else if (key == QLatin1String("totals")) {
            layout.totals = parseYesNo(value, no, key);
        } else if (key == QLatin1String("column")) {
            const QStringList parts = value.split(QLatin1Char(','));
            if (parts.size() != 3) {
                throw LayoutError(no, QStringLiteral("column needs field, heading, width"));
            }
            if (static_cast<int>(layout.columns.size()) >= kMaxColumns) {
                throw LayoutError(no, QStringLiteral("more than %1 columns").arg(kMaxColumns));
            }
            bool ok = false;
            const int width = parts[2].trimmed().toInt(&ok);
            if (!ok || width < 1 || width > kMaxColumnWidth) {
                throw LayoutError(
                    no, QStringLiteral("column width must be 1 to %1").arg(kMaxColumnWidth));
            }
            layout.columns.push_back({fieldOf(parts[0].trimmed(), no), parts[1].trimmed(), width});
        } else if (key == QLatin1String("count")) {
            const QStringList parts = value.split(QLatin1Char(','));
            if (parts.size() != 2) {
                throw LayoutError(no, QStringLiteral("count needs field, heading"));
            }
            if (static_cast<int>(layout.counts.size()) >= kMaxCounts) {
                throw LayoutError(no, QStringLiteral("more than %1 counts").arg(kMaxCounts));
            }
            layout.counts.push_back({fieldOf(parts[0].trimmed(), no), parts[1].trimmed()});
        } else {
            throw LayoutError(no, QStringLiteral("unknown key %1").arg(key));
        }
    }
    if (!sawMagic) {
        throw LayoutError(0, QStringLiteral("not a layout file (no \"%1\" line)").arg(kMagic));
    }
    if (!sawStyle) {
        throw LayoutError(0, QStringLiteral("no style given"));
    }
    if (layout.style == ReportLayout::Style::Summary) {
        if (layout.counts.empty()) {
            throw LayoutError(0, QStringLiteral("a summary needs at least one count"));
        }
    } else if (layout.columns.empty()) {
        throw LayoutError(0, QStringLiteral("a report needs at least one column"));
    }
    if (layout.style == ReportLayout::Style::FullText) {
        layout.fullMessage = true;
    }
    return layout;
}

ReportLayout loadLayout(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        throw LayoutError(0, QStringLiteral("cannot read %1: %2").arg(path, f.errorString()));
    }
    if (f.size() > kMaxLayoutBytes) {
        throw LayoutError(
            0, QStringLiteral("%1 is larger than %2 bytes").arg(path).arg(kMaxLayoutBytes));
    }
    const QByteArray bytes = f.read(kMaxLayoutBytes + 1);
    if (bytes.size() > kMaxLayoutBytes) {
        throw LayoutError(
            0, QStringLiteral("%1 is larger than %2 bytes").arg(path).arg(kMaxLayoutBytes));
    }
    return parseLayout(QString::fromUtf8(bytes));
}

QString defaultLayoutText(const QString& fileName) {
    const QString name = fileName.toLower();
    if (name == QLatin1String("svrrpt1.rpt")) {
        return QStringLiteral(
            "# Normal message log report: one line per message.\n"
            "VantrelLayout 1\n"
            "style: normal\n"
            "orientation: landscape\n"
            "fontsize: 8\n"
            "column: SentTime, Sent, 19\n"
            "column: Status, Status, 10\n"
            "column: Sender, Sender, 18\n"
            "column: Department, Department, 14\n"
            "column: Recipient, Recipient, 18\n"
            "column: TAPPhoneNumber, TAP Number, 14\n"
            "column: TAPPIN, PIN, 10\n"
            "column: Message, Message, 40\n");
    }
    if (name == QLatin1String("svrrpt2.rpt")) {
        return QStringLiteral(
            "# Full text message log report: each message with its whole text.\n"
            "VantrelLayout 1\n"
            "style: fulltext\n"
            "orientation: portrait\n"
            "fontsize: 8\n"
            "column: SentTime, Sent, 19\n"
            "column: Status, Status, 10\n"
            "column: Sender, Sender, 18\n"
            "column: Department, Department, 14\n"
            "column: Recipient, Recipient, 18\n"
            "column: TAPPhoneNumber, TAP Number, 14\n"
            "message: yes\n");
    }
    if (name == QLatin1String("svrrpt3.rpt")) {
        return QStringLiteral(
            "# Summary message log report: counts by status and by sender.\n"
            "VantrelLayout 1\n"
            "style: summary\n"
            "orientation: portrait\n"
            "fontsize: 9\n"
            "count: Status, Messages by Status\n"
            "count: Sender, Messages by Sender\n"
            "totals: yes\n");
    }
    return {};
}

QStringList installDefaultLayouts(const QString& dir) {
    QStringList written;
    for (const QString& name : {QStringLiteral("svrrpt1.rpt"), QStringLiteral("svrrpt2.rpt"),
                                QStringLiteral("svrrpt3.rpt")}) {
        if (paths::exists(name, dir)) {
            continue;
        }
        QSaveFile f(QDir(dir).filePath(name));
        if (!f.open(QIODevice::WriteOnly) || f.write(defaultLayoutText(name).toUtf8()) < 0 ||
            !f.commit()) {
            throw std::runtime_error(QStringLiteral("cannot write %1 in %2: %3")
                                         .arg(name, dir, f.errorString())
                                         .toStdString());
        }
        written << name;
    }
    return written;
}

}  // namespace vts::report
