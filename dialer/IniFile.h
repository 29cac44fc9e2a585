#pragma once

#include <QList>
#include <QPair>
#include <QString>

#include <optional>

// A small INI file: [sections] of key=value lines, ';' or '#' comments.
// Section and key names compare without regard to letter case; values are
// kept as written (surrounding blanks removed). Order is preserved so a
// rewritten file keeps the sections it did not change.
namespace vts {

class IniFile {
public:
    // Reads `path`; a missing or unreadable file gives an empty IniFile.
    static IniFile load(const QString& path, qint64 maxBytes = qint64{1024} * 1024);
    static IniFile parse(const QString& text);

    std::optional<QString> value(const QString& section, const QString& key) const;
    double number(const QString& section, const QString& key, double fallback) const;
    // The section's entries in file order; empty when it is absent.
    QList<QPair<QString, QString>> entries(const QString& section) const;
    // Replaces the whole section (created at the end when absent).
    void setSection(const QString& section, const QList<QPair<QString, QString>>& entries);
    QString toText() const;
    bool save(const QString& path) const;

private:
    struct Section {
        QString name;
        QList<QPair<QString, QString>> entries;
    };
    QList<Section> m_sections;
};

}  // namespace vts
