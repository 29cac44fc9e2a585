#include "IniFile.h"

#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>

namespace vts {

IniFile IniFile::load(const QString& path, qint64 maxBytes) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        return {};
    }
    return parse(QString::fromUtf8(f.read(maxBytes)));
}

IniFile IniFile::parse(const QString& text) {
    IniFile ini;
    Section* cur = nullptr;
    for (QString line : text.split(QRegularExpression(QStringLiteral("\r\n|\r|\n")))) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(u';') || line.startsWith(u'#')) {
            continue;
        }
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            ini.m_sections.append({line.mid(1, line.size() - 2).trimmed(), {}});
            cur = &ini.m_sections.last();
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (eq <= 0 || !cur) {
            continue;
        }
        cur->entries.append({line.left(eq).trimmed(), line.mid(eq + 1).trimmed()});
    }
    return ini;
}

std::optional<QString> IniFile::value(const QString& section, const QString& key) const {
    for (const Section& s : m_sections) {
        if (s.name.compare(section, Qt::CaseInsensitive) != 0) {
            continue;
        }
        for (const auto& [k, v] : s.entries) {
            if (k.compare(key, Qt::CaseInsensitive) == 0) {
                return v;
            }
        }
    }
    return std::nullopt;
}

double IniFile::number(const QString& section, const QString& key, double fallback) const {
    const auto v = value(section, key);
    if (!v) {
        return fallback;
    }
    bool ok = false;
    const double d = v->toDouble(&ok);
    return ok && d >= 0 ? d : fallback;
}

QList<QPair<QString, QString>> IniFile::entries(const QString& section) const {
    for (const Section& s : m_sections) {
        if (s.name.compare(section, Qt::CaseInsensitive) == 0) {
            return s.entries;
        }
    }
    return {};
}

void IniFile::setSection(const QString& section, const QList<QPair<QString, QString>>& entries) {
    for (Section& s : m_sections) {
        if (s.name.compare(section, Qt::CaseInsensitive) == 0) {
            s.entries = entries;
            return;
        }
    }
    m_sections.append({section, entries});
}

QString IniFile::toText() const {
    QString out;
    for (const Section& s : m_sections) {
        if (!out.isEmpty()) {
            out += u'\n';
        }
        out += QLatin1Char('[') + s.name + QLatin1String("]\n");
        for (const auto& [k, v] : s.entries) {
            out += k + u'=' + v + u'\n';
        }
    }
    return out;
}

bool IniFile::save(const QString& path) const {
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        return false;
    }
    f.write(toText().toUtf8());
    return f.commit();
}

}  // namespace vts
