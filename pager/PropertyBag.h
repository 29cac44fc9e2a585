#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <utility>
#include <vector>

namespace vts {

// The host's property store for one control: named 32-bit entries kept in
// the order they were first written. Writing an existing name replaces its
// value in place; names compare exactly.
class PropertyBag {
public:
    PropertyBag() = default;
    PropertyBag(std::initializer_list<std::pair<QString, qint32>> entries);

    void write(const QString& name, qint32 value);
    std::optional<qint32> read(const QString& name) const;
    qint32 read(const QString& name, qint32 defaultValue) const {
        return read(name).value_or(defaultValue);
    }
    bool contains(const QString& name) const { return read(name).has_value(); }
    void remove(const QString& name);
    void clear() { m_entries.clear(); }

    int size() const { return static_cast<int>(m_entries.size()); }
    QStringList names() const;
    const std::vector<std::pair<QString, qint32>>& entries() const { return m_entries; }

    bool operator==(const PropertyBag&) const = default;

private:
    std::vector<std::pair<QString, qint32>> m_entries;
};

}  // namespace vts

using PropertyBag = vts::PropertyBag;
