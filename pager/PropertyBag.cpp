#include "PropertyBag.h"

#include <algorithm>

namespace vts {

PropertyBag::PropertyBag(std::initializer_list<std::pair<QString, qint32>> entries) {
    for (const auto& [name, value] : entries) {
        write(name, value);
    }
}

void PropertyBag::write(const QString& name, qint32 value) {
    for (auto& e : m_entries) {
        if (e.first == name) {
            e.second = value;
            return;
        }
    }
    m_entries.emplace_back(name, value);
}

std::optional<qint32> PropertyBag::read(const QString& name) const {
    for (const auto& e : m_entries) {
        if (e.first == name) {
            return e.second;
        }
    }
    return std::nullopt;
}

void PropertyBag::remove(const QString& name) {
    std::erase_if(m_entries, [&](const auto& e) { return e.first == name; });
}

QStringList PropertyBag::names() const {
    QStringList out;
    for (const auto& e : m_entries) {
        out << e.first;
    }
    return out;
}

}  // namespace vts
