#pragma once

#include <QString>
#include <QStringList>

// HTML built on the server: every value from the log, a queue file, a
// settings file or a form passes through escape() on its way into a page,
// so a page text "<script>" shows as those characters. Pages carry no
// inline script or style (the Content-Security-Policy forbids both).
namespace vts::web::html {

QString escape(const QString& text);

// A navigation entry; shown only to roles that may open it.
struct NavItem {
    QString path;
    QString label;
};

// The whole document around `body`: title, style sheet, script, the
// navigation bar for a signed-in user (empty `user`: none) and the sign-out
// form with its CSRF token.
QString page(const QString& title, const QString& body, const QString& user = {},
             const QString& role = {}, const QList<NavItem>& nav = {}, const QString& csrf = {},
             const QString& current = {});

// <input type=hidden name=csrf>.
QString csrfField(const QString& token);
// A labelled input; `type` text, date, password, number...
QString field(const QString& name, const QString& label, const QString& value,
              const QString& type = QStringLiteral("text"), const QString& extra = {});
// A labelled <select>; `options` are value/label pairs.
QString select(const QString& name, const QString& label,
               const QList<QPair<QString, QString>>& options, const QString& chosen);
// A message box above a form: kind "ok" or "error" (role=status or alert).
QString notice(const QString& text, const QString& kind);

// Bars of pages sent and failed per hour as an SVG drawing with a text
// table beside it for screen readers.
QString hourlyChart(const QStringList& hours, const QList<int>& sent, const QList<int>& failed);

}  // namespace vts::web::html
