#pragma once

#include "ConfigSettings.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>

// What vtsctl and the web console both show of a page: its status in a
// word, the dialer's trace lines of its call, dates as an operator types
// them.
namespace vts::ctl {

// "pending", "sent", "failed", "cancelled" for tblLog.Status 0 to 3; the
// number for any other value.
QString statusWord(int status);

// The runs of the dialer traces (older copies first) in `dir` that carried
// page `id`: each from its "dialer run for" line to the next, headed by the
// trace file's name in brackets.
QStringList traceOfCall(const QString& dir, const QString& id);

// A date typed as YYYY-MM-DD or MM/DD/YYYY; nullopt for anything else.
std::optional<QDate> dateOf(const QString& text);

// Settings as both show and set them. The two passwords are never shown or
// set this way.
bool secretSetting(const QString& name);
// A value as shown and typed: "yes"/"no" for a flag, else as stored.
QString shownSetting(const settings::Field& f, const QVariant& v);
// A typed value as the store takes it, or `problem` in words: the checks of
// the settings page (yes or no, a list position, a number in its range, a
// text that fits its field).
QVariant settingValue(const settings::Field& f, const QString& value, QString* problem);

// calvex.ini's [ports] and [routes] as both edit them. Each entry is checked
// as the dialer and the pager control read it, the rest of the file is kept,
// and entries are written in order. An empty value removes the entry. On
// success `before` holds the old value (empty when there was none); on a
// refusal, false and `why` in words.
bool setPort(const QString& ini, const QString& com, const QString& entry, QString* before,
             QString* why);
bool setRoute(const QString& ini, const QString& number, const QString& ports, QString* before,
              QString* why);

}  // namespace vts::ctl
