#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

// Which COM ports may carry the pages for which paging-service number, from
// the [routes] section of calvex.ini:
//
//   [routes]
//   5551111 = COM3, COM1   ; the first port that is free and working
//   5552222 = COM4
//
// Numbers compare by their digits. Without the section every port serves
// every number; with it, a number with a route goes only to its ports, in
// the order given, and a number without one only to the ports named in no
// route.
namespace vts {

class Routes {
public:
    // The routes in the file at `path`; none when it has no [routes].
    static Routes load(const QString& path);
    static Routes parse(const QString& text);

    bool active() const { return m_active; }
    // The COM ports of `phone`'s route in order; empty when it has none.
    QList<int> routeOf(const QString& phone) const;
    // Whether `comPort` may carry pages for `phone`.
    bool allows(const QString& phone, int comPort) const;
    // Entries that could not be read, in words (for a status line).
    const QStringList& problems() const { return m_problems; }

    static QString digits(const QString& phone);
    // A route's ports as typed ("com3 , COM1") in the form the file keeps
    // ("COM3, COM1"); empty, and `why` in words, when one is not COM1 to
    // COM99 or none is named. Checks an entry before it is written.
    static QString entry(const QString& ports, QString* why);

private:
    static QList<int> portsOf(const QString& text, QString* why);

    bool m_active = false;
    QHash<QString, QList<int>> m_routes;  // by digits
    QSet<int> m_routed;                   // COM ports named in some route
    QStringList m_problems;
};

}  // namespace vts
