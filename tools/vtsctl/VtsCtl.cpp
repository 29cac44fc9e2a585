#include "VtsCtl.h"

#include "ClientList.h"
#include "ConfigSettings.h"
#include "ConfigStore.h"
#include "Conversions.h"
#include "CtlShared.h"
#include "Database.h"
#include "DeliveryStore.h"
#include "Dialogs.h"
#include "IniFile.h"
#include "LogStore.h"
#include "LoginSettings.h"
#include "ModemList.h"
#include "PageCommand.h"
#include "Paths.h"
#include "PendingActions.h"
#include "PendingFiles.h"
#include "PurgeLogic.h"
#include "ReportCriteria.h"
#include "Routes.h"
#include "SelectionFormula.h"
#include "Statuses.h"
#include "Transport.h"
#include "WebUserCommand.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>

namespace vts::ctl {

namespace {

constexpr int kUsage = 2;
constexpr int kMaxLimit = 1000000;

// The fields a listing shows, in order; the paging service's password is
// never among them.
const QStringList kPageFields = {QStringLiteral("ID"),
                                 QStringLiteral("SentTime"),
                                 QStringLiteral("Status"),
                                 QStringLiteral("Sender"),
                                 QStringLiteral("Department"),
                                 QStringLiteral("Recipient"),
                                 QStringLiteral("TAPPhoneNumber"),
                                 QStringLiteral("TAPPIN"),
                                 QStringLiteral("Message"),
                                 QStringLiteral("Cause")};

class Command {
public:
    Command(QStringList args, QString dir, const Streams& io)
        : m_args(std::move(args)), m_dir(std::move(dir)), m_io(io) {}

    int run();

private:
    void out(const QString& text) const { std::fputs(text.toLocal8Bit().constData(), m_io.out); }
    int fail(const QString& why) const {
        std::fprintf(m_io.err, "vtsctl: %s\n", why.toLocal8Bit().constData());
        return 1;
    }
    int usageError(const QString& why) const {
        std::fprintf(m_io.err, "vtsctl: %s\n%s", why.toLocal8Bit().constData(),
                     usage().section(u'\n', 0, 0).append(u'\n').toLocal8Bit().constData());
        std::fprintf(m_io.err, "Try 'vtsctl --help' for more information.\n");
        return kUsage;
    }
    // Options "--name value" and flags "--name" after the command's words;
    // false (with the refusal written) for an unknown one or a missing value.
    bool options(qsizetype from, const QStringList& valued, const QStringList& flags);
    bool storePresent(bool log) const;
    // --from and --to into `c` (its selectDate, from and to); false (with
    // the refusal written) for a date that is not one.
    template <class Criteria>
    bool dateRange(Criteria& c) const;

    int why();
    int pages();
    int settingsShow();
    int settingsSet();
    int modems();
    int purge();
    int status(bool follow);
    int passwordSet();
    int ports();
    int routes();
    int clients();
    int pendingList();
    int pendingAct();
    int page();
    QString socketPath() const;

    QStringList m_args;
    QString m_dir;
    Streams m_io;
    QHash<QString, QString> m_opt;
    QStringList m_words;  // positional words after the command's own
};

bool Command::options(qsizetype from, const QStringList& valued, const QStringList& flags) {
    for (qsizetype i = from; i < m_args.size(); ++i) {
        const QString& a = m_args.at(i);
        if (!a.startsWith(QLatin1String("--"))) {
            // "-3" is a value (a negative number the checks then refuse).
            static const QRegularExpression number(QStringLiteral(R"(^-\d)"));
            if (a.startsWith(u'-') && a.size() > 1 && !number.match(a).hasMatch()) {
                usageError(QStringLiteral("unknown option %1").arg(a));
                return false;
            }
            m_words << a;
            continue;
        }
        const QString name = a.mid(2);
        if (flags.contains(name)) {
            m_opt.insert(name, QStringLiteral("1"));
        } else if (valued.contains(name)) {
            if (i + 1 >= m_args.size()) {
                usageError(QStringLiteral("%1 needs a value").arg(a));
                return false;
            }
            m_opt.insert(name, m_args.at(++i));
        } else {
            usageError(QStringLiteral("unknown option %1").arg(a));
            return false;
        }
    }
    return true;
}

bool Command::storePresent(bool log) const {
    const bool there = log ? logstore::present(m_dir) : configstore::present(m_dir);
    if (!there) {
        fail(QStringLiteral("no %1 in %2; run vtsctl in the server's working directory")
                 .arg(log ? logstore::kCreateName : configstore::kFileName, m_dir));
    }
    return there;
}

int Command::run() {
    if (m_args.isEmpty()) return usageError(QStringLiteral("no command given"));
    const QString cmd = m_args.first();
    const QString sub = m_args.value(1);
    try {
        if (cmd == QLatin1String("status")) return status(false);
        if (cmd == QLatin1String("follow")) return status(true);
        if (cmd == QLatin1String("why")) return why();
        if (cmd == QLatin1String("pages")) return pages();
        if (cmd == QLatin1String("purge")) return purge();
        if (cmd == QLatin1String("settings") && sub == QLatin1String("show")) {
            return settingsShow();
        }
        if (cmd == QLatin1String("settings") && sub == QLatin1String("set")) return settingsSet();
        if (cmd == QLatin1String("modems")) return modems();
        if (cmd == QLatin1String("password") && sub == QLatin1String("set")) return passwordSet();
        if (cmd == QLatin1String("ports")) return ports();
        if (cmd == QLatin1String("routes")) return routes();
        if (cmd == QLatin1String("page")) return page();
        if (cmd == QLatin1String("clients")) return clients();
        if (cmd == QLatin1String("pending") && sub == QLatin1String("list")) return pendingList();
        if (cmd == QLatin1String("pending") &&
            (sub == QLatin1String("retry") || sub == QLatin1String("delete"))) {
            return pendingAct();
        }
        if (cmd == QLatin1String("web-user")) return webUser(m_args, m_dir, m_io);
    } catch (const db::DbError& e) {
        return fail(QString::fromLocal8Bit(e.what()));
    } catch (const report::FormulaError& e) {
        return fail(e.message());
    }
    return usageError(QStringLiteral("unknown command %1").arg(m_args.join(u' ')));
}

// ---------------------------------------------------------------- why

int Command::why() {
    if (!options(1, {}, {})) return kUsage;
    bool ok = false;
    const qint64 id = m_words.value(0).toLongLong(&ok);
    if (m_words.size() != 1 || !ok || id < 1) return usageError(QStringLiteral("why takes one ID"));
    if (!storePresent(true)) return 1;
    auto log = logstore::open(m_dir);
    auto rs = log->openQuery(QStringLiteral("SELECT * FROM ") + logstore::rowsWithCause(*log) +
                                 QStringLiteral(" WHERE ID = ?"),
                             {id});
    if (rs->eof()) return fail(QStringLiteral("no page with ID %1 in the log").arg(id));
    QString text;
    text += QStringLiteral("ID:        %1\n").arg(id);
    text += QStringLiteral("Status:    %1 (%2)\n")
                .arg(statusWord(rs->int32(QStringLiteral("Status"))),
                     rs->text(QStringLiteral("StatusDescription")));
    text += QStringLiteral("Sent:      %1\n")
                .arg(rs->value(QStringLiteral("SentTime"))
                         .toDateTime()
                         .toString(QStringLiteral("MM/dd/yyyy HH:mm:ss")));
    for (const char* f : {"Sender", "Recipient", "TAPPhoneNumber", "TAPPIN", "Message"}) {
        const QString name = QString::fromLatin1(f);
        text += QStringLiteral("%1 %2\n").arg(name + u':', -10).arg(rs->text(name));
    }
    const QString cause = rs->text(QStringLiteral("Cause"));
    text += QStringLiteral("Cause:     %1\n")
                .arg(cause.isEmpty() ? QStringLiteral("(none kept)") : cause);
    if (const auto d = delivery::of(*log, id, delivery::noReceiptMinutes(m_dir))) {
        text +=
            QStringLiteral("Delivery:  %1%2, %3 (message ID %4)\n")
                .arg(d->state, d->reason.isEmpty() ? QString() : QStringLiteral(": ") + d->reason,
                     d->at.toString(QStringLiteral("MM/dd/yyyy HH:mm:ss")),
                     d->messageIds.join(QStringLiteral(", ")));
    }
    const QStringList trace = traceOfCall(m_dir, QString::number(id));
    text += trace.isEmpty()
                ? QStringLiteral(
                      "Trace:     none (the server's DebugMode 1 makes "
                      "the dialer write KRX<N>.log)\n")
                : QStringLiteral("Trace:\n  ") + trace.join(QStringLiteral("\n  ")) + u'\n';
    out(text);
    return 0;
}

// ---------------------------------------------------------------- pages

template <class Criteria>
bool Command::dateRange(Criteria& c) const {
    if (!m_opt.contains(QStringLiteral("from")) && !m_opt.contains(QStringLiteral("to"))) {
        return true;
    }
    const auto from = dateOf(m_opt.value(QStringLiteral("from"), QStringLiteral("1900-01-01")));
    const auto to = dateOf(m_opt.value(QStringLiteral("to"), QStringLiteral("9999-12-31")));
    if (!from || !to) {
        usageError(QStringLiteral("dates are MM/DD/YYYY or YYYY-MM-DD"));
        return false;
    }
    c.selectDate = true;
    c.from = *from;
    c.to = *to;
    return true;
}

QString csvField(const QString& v) {
    if (!v.contains(u',') && !v.contains(u'"') && !v.contains(u'\n') && !v.contains(u'\r')) {
        return v;
    }
    QString q = v;
    q.replace(QLatin1String("\""), QLatin1String("\"\""));
    return u'"' + q + u'"';
}

int Command::pages() {
    const QStringList valued = {QStringLiteral("from"),       QStringLiteral("to"),
                                QStringLiteral("status"),     QStringLiteral("sender"),
                                QStringLiteral("department"), QStringLiteral("recipient"),
                                QStringLiteral("phone"),      QStringLiteral("pin"),
                                QStringLiteral("text"),       QStringLiteral("limit")};
    if (!options(1, valued, {QStringLiteral("json"), QStringLiteral("csv")})) return kUsage;
    if (!m_words.isEmpty()) return usageError(QStringLiteral("unexpected %1").arg(m_words.first()));
    if (m_opt.contains(QStringLiteral("json")) && m_opt.contains(QStringLiteral("csv"))) {
        return usageError(QStringLiteral("--json and --csv exclude each other"));
    }
    // The report's own criteria: date range, status, sender, department.
    report::Criteria c;
    if (!dateRange(c)) return kUsage;
    const QString status = m_opt.value(QStringLiteral("status"), QStringLiteral("all"));
    const QStringList statuses = {QStringLiteral("all"), QStringLiteral("sent"),
                                  QStringLiteral("failed"), QStringLiteral("cancelled")};
    const bool pending = status == QLatin1String("pending");
    if (!pending && !statuses.contains(status)) {
        return usageError(QStringLiteral("--status is sent, failed, cancelled or pending"));
    }
    c.statusIndex = pending ? 0 : static_cast<int>(statuses.indexOf(status));
    c.statusText = report::statusEntries().value(c.statusIndex);
    c.sender = m_opt.value(QStringLiteral("sender"));
    c.department = m_opt.value(QStringLiteral("department"));
    bool ok = true;
    const int limit = m_opt.value(QStringLiteral("limit"), QStringLiteral("0")).toInt(&ok);
    if (!ok || limit < 0 || limit > kMaxLimit) {
        return usageError(QStringLiteral("--limit takes a number from 0 to %1").arg(kMaxLimit));
    }
    if (!storePresent(true)) return 1;

    report::SqlFilter filter = report::parseSelectionFormula(report::buildSelection(c).formula);
    QStringList where;
    if (!filter.where.isEmpty()) where << u'(' + filter.where + u')';
    if (pending) where << QStringLiteral("Status = %1").arg(toInt(LogStatus::Waiting));
    // The criteria beyond the report's: exact number and PIN, parts of the
    // recipient and the text, compared as the stores compare text.
    const std::pair<const char*, const char*> exact[] = {{"phone", "TAPPhoneNumber"},
                                                         {"pin", "TAPPIN"}};
    for (const auto& [opt, field] : exact) {
        if (!m_opt.contains(QString::fromLatin1(opt))) continue;
        where << QString::fromLatin1(field) + QStringLiteral(" = ?") + db::noCase();
        filter.params << m_opt.value(QString::fromLatin1(opt));
    }
    const std::pair<const char*, const char*> part[] = {{"recipient", "Recipient"},
                                                        {"text", "Message"}};
    for (const auto& [opt, field] : part) {
        if (!m_opt.contains(QString::fromLatin1(opt))) continue;
        where << QStringLiteral("instr(lower(%1), lower(?)) > 0").arg(QString::fromLatin1(field));
        filter.params << m_opt.value(QString::fromLatin1(opt));
    }
    auto log = logstore::open(m_dir);
    QString sql = QStringLiteral("SELECT ") + kPageFields.join(QStringLiteral(", ")) +
                  QStringLiteral(" FROM ") + logstore::rowsWithCause(*log);
    if (!where.isEmpty()) sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    sql += QStringLiteral(" ORDER BY ID");
    if (limit > 0) sql += QStringLiteral(" LIMIT %1").arg(limit);
    auto rs = log->openQuery(sql, filter.params);

    const bool json = m_opt.contains(QStringLiteral("json"));
    const bool csv = m_opt.contains(QStringLiteral("csv"));
    const int noReceipt = delivery::noReceiptMinutes(m_dir);
    QJsonArray rows;
    if (csv) out(kPageFields.join(u',') + u'\n');
    for (; !rs->eof(); rs->moveNext()) {
        QStringList values;
        QJsonObject row;
        for (const QString& f : kPageFields) {
            QString v = rs->text(f);
            if (f == QLatin1String("SentTime")) {
                v = rs->value(f).toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
            } else if (f == QLatin1String("Status")) {
                v = statusWord(rs->int32(f));
            }
            if (f == QLatin1String("ID")) {
                row.insert(f, rs->value(f).toLongLong());
            } else {
                row.insert(f, v);
            }
            values << v;
        }
        // What the network said, for pages whose carrier sends receipts.
        const auto d = delivery::of(*log, rs->value(QStringLiteral("ID")).toLongLong(), noReceipt);
        if (d) row.insert(QStringLiteral("Delivery"), d->state);
        if (json) {
            rows.append(row);
        } else if (csv) {
            QStringList quoted;
            for (const QString& v : values) quoted << csvField(v);
            out(quoted.join(u',') + u'\n');
        } else {
            QString message = values.at(8);
            message.replace(u'\n', u' ');
            out(QStringLiteral("%1  %2  %3  %4  %5  %6%7%8\n")
                    .arg(values.at(0), values.at(1), values.at(2).leftJustified(9), values.at(6),
                         values.at(7), message.left(60),
                         values.at(9).isEmpty() ? QString()
                                                : QStringLiteral("  [") + values.at(9) + u']',
                         d ? QStringLiteral("  {") + d->state + u'}' : QString()));
        }
    }
    if (json) out(QString::fromUtf8(QJsonDocument(rows).toJson(QJsonDocument::Indented)));
    return 0;
}

// ---------------------------------------------------------------- settings

int Command::settingsShow() {
    if (!options(2, {}, {})) return kUsage;
    if (!m_words.isEmpty()) return usageError(QStringLiteral("unexpected %1").arg(m_words.first()));
    if (!storePresent(false)) return 1;
    const settings::Values values = settings::load(m_dir);
    QString text;
    for (const settings::Field& f : settings::fields()) {
        QString v = shownSetting(f, values.value(f.name));
        if (secretSetting(f.name))
            v = v.isEmpty() ? QStringLiteral("(not set)") : QStringLiteral("(set)");
        text += f.name + QStringLiteral(" = ") + v + u'\n';
    }
    out(text);
    return 0;
}

int Command::settingsSet() {
    if (!options(2, {}, {})) return kUsage;
    if (m_words.size() != 2) return usageError(QStringLiteral("settings set takes NAME VALUE"));
    const QString& name = m_words.at(0);
    const QString& value = m_words.at(1);
    const settings::Field* field = nullptr;
    for (const settings::Field& f : settings::fields()) {
        if (f.name.compare(name, Qt::CaseInsensitive) == 0) field = &f;
    }
    if (!field) return usageError(QStringLiteral("no setting named %1").arg(name));
    if (secretSetting(field->name)) {
        return fail(
            QStringLiteral("%1 is a password; it is not set from a command line").arg(field->name));
    }
    if (!storePresent(false)) return 1;
    settings::Values values = settings::load(m_dir);
    QString problem;
    const QVariant v = settingValue(*field, value, &problem);
    if (!problem.isEmpty()) return fail(problem);
    values.insert(field->name, v);
    if (const QStringList refused = settings::save(m_dir, values); !refused.isEmpty()) {
        return fail(QStringLiteral("%1 was not stored").arg(refused.join(QStringLiteral(", "))));
    }
    return 0;
}

// ---------------------------------------------------------------- modems

int Command::modems() {
    if (!options(1, {}, {})) return kUsage;
    const QString verb = m_words.value(0);
    if (verb == QLatin1String("list") && m_words.size() == 1) {
        if (!storePresent(false)) return 1;
        const QStringList ports = modems::load(m_dir);
        out(ports.isEmpty() ? QString() : ports.join(u'\n') + u'\n');
        if (const QString w = modems::serverWarning(ports); !w.isEmpty()) {
            std::fprintf(m_io.err, "vtsctl: %s\n", w.toLocal8Bit().constData());
        }
        return 0;
    }
    if ((verb == QLatin1String("add") || verb == QLatin1String("remove")) && m_words.size() == 2) {
        if (!storePresent(false)) return 1;
        QString port = m_words.at(1).trimmed();
        if (port.startsWith(QLatin1String("COM"), Qt::CaseInsensitive)) port = port.mid(3);
        if (verb == QLatin1String("remove")) {
            return modems::remove(m_dir, QStringLiteral("COM") + port)
                       ? 0
                       : fail(QStringLiteral("COM%1 is not in the modem list").arg(port));
        }
        switch (modems::add(m_dir, port)) {
            case modems::AddResult::Added:
                return 0;
            case modems::AddResult::OutOfRange:
                return fail(modems::kRangeText);
            case modems::AddResult::Duplicate:
                return fail(modems::kDuplicateText);
        }
    }
    return usageError(QStringLiteral("modems list | add N | remove N"));
}

// ---------------------------------------------------------------- password

// One line of standard input without its line end; nullopt at its end.
std::optional<QString> inputLine() {
    std::string line;
    if (!std::getline(std::cin, line)) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return QString::fromLocal8Bit(line.c_str());
}

int Command::passwordSet() {
    if (!options(2, {}, {})) return kUsage;
    if (!m_words.isEmpty()) return usageError(QStringLiteral("unexpected %1").arg(m_words.first()));
    if (!storePresent(false)) return 1;
    settings::Values values = settings::load(m_dir);
    const QString stored = values.value(QStringLiteral("SystemPassword")).toString();
    // Read from standard input, never from the command line, where every
    // user could see it: the old password first when one is set.
    if (!stored.trimmed().isEmpty()) {
        const auto old = inputLine();
        if (!old || !login::passwordsMatch(*old, stored)) return fail(login::kOldPasswordText);
    }
    const auto typed = inputLine();
    if (!typed) return fail(QStringLiteral("no new password on standard input"));
    if (!login::passwordFits(*typed)) {
        return fail(login::kPasswordTooLongText.arg(login::passwordWidth()));
    }
    values.insert(QStringLiteral("SystemPassword"), login::normalised(*typed));
    settings::save(m_dir, values);
    return 0;
}

// ---------------------------------------------------------------- ports

int Command::ports() {
    if (!options(1, {}, {})) return kUsage;
    const QString verb = m_words.value(0);
    // The file the dialer reads: the working directory's, else the installed one.
    const QString ini = paths::settingsFile(QStringLiteral("calvex.ini"), m_dir);
    if (verb == QLatin1String("list") && m_words.size() == 1) {
        const IniFile file = IniFile::load(ini);
        for (int n = 1; n <= 99; ++n) {
            const QString key = QStringLiteral("COM%1").arg(n);
            const auto v = file.value(QStringLiteral("ports"), key);
            if (!v || v->isEmpty()) continue;
            QString why;
            const auto target = PortTarget::parse(*v, &why);
            out(key + u'=' + *v + QStringLiteral("  (") + (target ? target->describe() : why) +
                QStringLiteral(")\n"));
        }
        return 0;
    }
    const bool set =
        verb == QLatin1String("set") && m_words.size() == 3 && !m_words.at(2).trimmed().isEmpty();
    const bool remove = verb == QLatin1String("remove") && m_words.size() == 2;
    if (!set && !remove)
        return usageError(QStringLiteral("ports list | set COMn ENTRY | remove COMn"));
    QString why;
    return setPort(ini, m_words.at(1), set ? m_words.at(2) : QString(), nullptr, &why) ? 0
                                                                                       : fail(why);
}

int Command::routes() {
    if (!options(1, {}, {})) return kUsage;
    const QString verb = m_words.value(0);
    const QString ini = paths::settingsFile(QStringLiteral("calvex.ini"), m_dir);
    if (verb == QLatin1String("list") && m_words.size() == 1) {
        for (const auto& [number, ports] : IniFile::load(ini).entries(QStringLiteral("routes")))
            out(number + QStringLiteral(" = ") + ports + u'\n');
        for (const QString& bad : Routes::load(ini).problems())
            std::fprintf(m_io.err, "vtsctl: not a route: %s\n", bad.toLocal8Bit().constData());
        return 0;
    }
    const bool set =
        verb == QLatin1String("set") && m_words.size() == 3 && !m_words.at(2).trimmed().isEmpty();
    const bool remove = verb == QLatin1String("remove") && m_words.size() == 2;
    if (!set && !remove)
        return usageError(
            QStringLiteral("routes list | set NUMBER COMn[,COMn...] | remove NUMBER"));
    QString why;
    QString before;
    if (!setRoute(ini, m_words.at(1), set ? m_words.at(2) : QString(), &before, &why))
        return fail(why);
    if (remove && before.isEmpty())
        return fail(QStringLiteral("no route for %1").arg(m_words.at(1)));
    return 0;
}

// ---------------------------------------------------------------- clients

int Command::clients() {
    if (!options(1, {QStringLiteral("path"), QStringLiteral("computer")}, {})) return kUsage;
    const QString verb = m_words.value(0);
    if (!storePresent(false)) return 1;
    if (verb == QLatin1String("list") && m_words.size() == 1) {
        for (const clients::Entry& e : clients::load(m_dir)) {
            const auto c = clients::find(m_dir, e.id);
            out(QStringLiteral("%1  %2  %3  %4\n")
                    .arg(e.id)
                    .arg(e.name, c ? c->path : QString(), c ? c->computerName : QString()));
        }
        return 0;
    }
    auto idOf = [this](const QString& text) -> std::optional<qint64> {
        bool ok = false;
        const qint64 id = text.toLongLong(&ok);
        if (ok) return id;
        for (const clients::Entry& e : clients::load(m_dir))
            if (e.name.compare(clients::normalise(text), Qt::CaseInsensitive) == 0) return e.id;
        return std::nullopt;
    };
    const clients::Client typed{m_words.value(1), m_opt.value(QStringLiteral("path")),
                                m_opt.value(QStringLiteral("computer"))};
    if (verb == QLatin1String("add") && m_words.size() == 2) {
        if (!clients::locationAccessible(typed.path, m_dir)) {
            std::fprintf(m_io.err, "vtsctl: %s\n", clients::kPathText.toLocal8Bit().constData());
        }
        return clients::add(m_dir, typed) == clients::AddResult::Added
                   ? 0
                   : fail(clients::kDuplicateText);
    }
    if ((verb == QLatin1String("edit") && m_words.size() == 3) ||
        (verb == QLatin1String("remove") && m_words.size() == 2)) {
        const auto id = idOf(m_words.at(1));
        if (!id) return fail(QStringLiteral("no client %1").arg(m_words.at(1)));
        if (verb == QLatin1String("remove")) {
            return clients::remove(m_dir, *id) ? 0 : fail(QStringLiteral("no client %1").arg(*id));
        }
        const auto was = clients::find(m_dir, *id);
        if (!was) return fail(QStringLiteral("no client %1").arg(*id));
        clients::Client now{m_words.at(2), m_opt.value(QStringLiteral("path"), was->path),
                            m_opt.value(QStringLiteral("computer"), was->computerName)};
        return clients::update(m_dir, *id, now) ? 0 : fail(QStringLiteral("no client %1").arg(*id));
    }
    return usageError(
        QStringLiteral("clients list | add NAME [--path P] [--computer C] | edit ID|NAME NEWNAME | "
                       "remove ID|NAME"));
}

// ---------------------------------------------------------------- pending

int Command::pendingList() {
    if (!options(2, {}, {QStringLiteral("files")})) return kUsage;
    if (!storePresent(false)) return 1;
    const settings::Values values = settings::load(m_dir);
    const QString location = values.value(QStringLiteral("MessageQueueLocation")).toString();
    const pending::Summary sum =
        pending::compute(location, QCoreApplication::applicationDirPath(), m_dir);
    out(pending::labels(sum).join(u'\n') + u'\n');
    if (!m_opt.contains(QStringLiteral("files"))) return 0;
    const QString q = paths::resolve(location.trimmed(), m_dir);
    for (const char* sub : {"PENDING", "FAILED", "SENT"}) {
        const QString folder = paths::resolve(QString::fromLatin1(sub), q);
        for (const QString& name : paths::listFiles(folder, QStringLiteral("*.PMF"))) {
            const QFileInfo info(QDir(folder).filePath(name));
            out(QStringLiteral("%1\t%2\t%3\t%4\n")
                    .arg(QString::fromLatin1(sub), name)
                    .arg(info.size())
                    .arg(info.lastModified().toString(Qt::ISODate)));
        }
    }
    return 0;
}

// Sends a message file again or deletes it. With the server running, the
// server does it (it refuses while it still has the page in hand); with the
// server stopped, it is done here.
int Command::pendingAct() {
    if (!options(1, {QStringLiteral("socket")}, {})) return kUsage;
    const QString action = m_words.value(0);
    const QStringList names = m_words.mid(1);
    if (names.isEmpty()) return usageError(QStringLiteral("pending %1 NAME...").arg(action));
    for (const QString& name : names)
        if (const QString why = pendingfiles::checkName(name); !why.isEmpty()) return fail(why);
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    const bool running = socket.waitForConnected(1000);
    QString q;
    if (!running) {
        if (!storePresent(false)) return 1;
        const QString location =
            settings::load(m_dir).value(QStringLiteral("MessageQueueLocation")).toString();
        q = paths::resolve(location.trimmed(), m_dir);
    }
    int code = 0;
    for (const QString& name : names) {
        QString done, error;
        if (running) {
            const QJsonObject ask{{"cmd", "pending"}, {"action", action}, {"name", name}};
            socket.write(QJsonDocument(ask).toJson(QJsonDocument::Compact) + '\n');
            socket.waitForBytesWritten(1000);
            while (!socket.canReadLine() && socket.waitForReadyRead(5000)) {
            }
            if (!socket.canReadLine()) return fail(QStringLiteral("vtsmonitor did not answer"));
            const QJsonObject o = QJsonDocument::fromJson(socket.readLine()).object();
            done = o.value("done").toString();
            error = o.value("error").toString();
        } else {
            done = pendingfiles::apply(*pendingfiles::actionNamed(action), q, name, &error);
        }
        if (done.isEmpty()) {
            fail(error);
            code = 1;
        } else {
            out(done + u'\n');
        }
    }
    return code;
}

// ---------------------------------------------------------------- page

// vtspage's own command, with the store's queue folder as the default of
// --queue.
int Command::page() {
    QString queue;
    if (configstore::present(m_dir)) {
        const QString q =
            settings::load(m_dir).value(QStringLiteral("MessageQueueLocation")).toString();
        if (!q.trimmed().isEmpty()) queue = paths::resolve(q.trimmed(), m_dir);
    }
    std::fflush(m_io.out);
    return page::run(QStringList{QStringLiteral("vtsctl page")} + m_args.mid(1), "vtsctl page",
                     queue);
}

// ---------------------------------------------------------------- purge

int Command::purge() {
    if (!options(1, {QStringLiteral("from"), QStringLiteral("to"), QStringLiteral("sender")},
                 {QStringLiteral("yes")})) {
        return kUsage;
    }
    if (!m_words.isEmpty()) return usageError(QStringLiteral("unexpected %1").arg(m_words.first()));
    report::PurgeCriteria c;
    if (!dateRange(c)) return kUsage;
    c.sender = m_opt.value(QStringLiteral("sender"));
    if (!storePresent(true)) return 1;
    if (!m_opt.contains(QStringLiteral("yes"))) {
        // The purge's own statement, run and taken back: the count is exact.
        const int rows = report::PurgeLogic::countMatching(m_dir, c);
        out(QStringLiteral("%1 rows would be deleted; nothing was deleted (add --yes)\n")
                .arg(rows));
        return 0;
    }
    ConsoleDialogs answers(Dialogs::Answer::Yes);
    report::PurgeLogic logic(m_dir, answers);
    if (logic.purge(c) != report::PurgeLogic::Outcome::Purged) return 1;
    out(QStringLiteral("%1 rows deleted\n").arg(logic.lastDeleted()));
    return 0;
}

// ---------------------------------------------------------------- status

QString Command::socketPath() const {
    if (m_opt.contains(QStringLiteral("socket"))) return m_opt.value(QStringLiteral("socket"));
    const QString name = QStringLiteral("vtsmonitor.sock");
    const QString runtime = qEnvironmentVariable("RUNTIME_DIRECTORY").section(u':', 0, 0);
    QStringList candidates;
    if (!runtime.isEmpty()) candidates << QDir(runtime).filePath(name);
    candidates << QDir(m_dir).filePath(name) << QStringLiteral("/run/vantrel/") + name;
    for (const QString& c : candidates)
        if (QFileInfo::exists(c)) return c;
    return candidates.first();
}

QString statusText(const QJsonObject& s) {
    QString t;
    t += QStringLiteral("vtsmonitor %1, running since %2, queue checked every %3 s\n")
             .arg(s.value("version").toString(), s.value("started").toString())
             .arg(s.value("checkSeconds").toInt());
    const QJsonObject q = s.value("queue").toObject();
    t += QStringLiteral("queue %1, PENDING %2, SENT %3, FAILED %4; %5 in the pager control\n")
             .arg(q.value("queue").toInt())
             .arg(q.value("PENDING").toInt())
             .arg(q.value("SENT").toInt())
             .arg(q.value("FAILED").toInt())
             .arg(s.value("inControl").toInt());
    if (const int kept = s.value("journal").toInt(); kept > 0)
        t += QStringLiteral("%1 results kept in the journal until the log takes them\n").arg(kept);
    for (const auto& p : s.value("ports").toArray()) {
        const QJsonObject o = p.toObject();
        t += QStringLiteral("port %1 (COM%2, %3): %4")
                 .arg(o.value("port").toInt())
                 .arg(o.value("com").toInt())
                 .arg(o.value("target").toString(), o.value("state").toString());
        if (const int batch = o.value("batch").toInt(); batch > 0)
            t += QStringLiteral(", %1 pages").arg(batch);
        t += QStringLiteral(" since %1").arg(o.value("since").toString());
        if (o.value("passedOver").toBool()) t += QStringLiteral(", passed over by its routes");
        if (o.contains("cause")) t += QStringLiteral(" (%1)").arg(o.value("cause").toString());
        if (const QJsonObject last = o.value("lastResult").toObject(); !last.isEmpty()) {
            t += QStringLiteral("; last ID=%1 %2 at %3")
                     .arg(last.value("id").toString(), last.value("status").toString(),
                          last.value("at").toString());
            if (last.contains("cause")) t += QStringLiteral(": ") + last.value("cause").toString();
        }
        t += u'\n';
    }
    for (const auto& l : s.value("lines").toArray()) t += l.toString() + u'\n';
    return t;
}

int Command::status(bool follow) {
    if (!options(1, {QStringLiteral("socket")}, follow ? QStringList{} : QStringList{"json"})) {
        return kUsage;
    }
    if (!m_words.isEmpty()) return usageError(QStringLiteral("unexpected %1").arg(m_words.first()));
    const QString path = socketPath();
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(1000)) {
        return fail(QStringLiteral("vtsmonitor is not running (no answer at %1)").arg(path));
    }
    socket.write(follow ? "follow\n" : "status\n");
    socket.waitForBytesWritten(1000);
    QByteArray input;
    for (;;) {
        if (!socket.canReadLine() && !socket.waitForReadyRead(follow ? -1 : 2000)) {
            if (follow) return 0;  // the server ended
            return fail(QStringLiteral("vtsmonitor did not answer at %1").arg(path));
        }
        while (socket.canReadLine()) {
            const QByteArray line = socket.readLine().trimmed();
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            if (!follow) {
                out(m_opt.contains(QStringLiteral("json")) ? QString::fromUtf8(line) + u'\n'
                                                           : statusText(o));
                return 0;
            }
            if (o.contains("line")) {
                out(o.value("line").toString() + u'\n');
            } else if (o.contains("event")) {
                out(QStringLiteral("event %1 ID=%2%3\n")
                        .arg(o.value("event").toString(), o.value("id").toString(),
                             o.contains("cause")
                                 ? QStringLiteral(": ") + o.value("cause").toString()
                                 : QString()));
            }
            std::fflush(m_io.out);
        }
    }
}

}  // namespace

QString usage() {
    return QStringLiteral(
        "usage: vtsctl COMMAND [ARGS]\n"
        "Sees and steers Vantrel from a shell; run it in the server's working\n"
        "directory (the folder that holds VTSCFG.MDB and VTSLog.mdb).\n"
        "  status [--json]           the running server's state (its control socket)\n"
        "  follow                    its status lines and page events as they come\n"
        "                            (both take --socket PATH)\n"
        "  pages [--from DATE] [--to DATE] [--status sent|failed|cancelled|pending]\n"
        "        [--sender S] [--department D] [--recipient R] [--phone P] [--pin N]\n"
        "        [--text T] [--limit N] [--json|--csv]\n"
        "  why ID                    a page's row, its cause and its call's trace\n"
        "  settings show             the settings row (passwords only as set or not)\n"
        "  settings set NAME VALUE   one setting, with the configuration program's checks\n"
        "  modems list|add N|remove N\n"
        "  ports list|set COMn ENTRY|remove COMn   calvex.ini, checked as the dialer reads it\n"
        "  routes list|set NUMBER COMn[,COMn...]|remove NUMBER   the ports each number may use\n"
        "  clients list|add NAME [--path P] [--computer C]|edit ID NEWNAME|remove ID\n"
        "  pending list [--files]    the pending, sent and failed files and their space\n"
        "  pending retry|delete NAME...  send a pending or failed file again, or delete\n"
        "                            a file of the three folders (by the server when\n"
        "                            it runs: it refuses a page it still has in hand)\n"
        "  password set              old (when set) and new password on standard input\n"
        "  page [--queue DIR] [vtspage's options] TEXT...\n"
        "                            a page into the store's queue folder (or DIR)\n"
        "  purge [--from DATE] [--to DATE] [--sender S] [--yes]\n"
        "                            without --yes, says how many rows would go\n"
        "  web-user add NAME --role viewer|operator|administrator | list | remove NAME\n"
        "                            the web console's accounts (password on standard input)\n"
        "  --help, --version\n"
        "Exit status: 0 done, 1 failed, 2 wrong command line.\n");
}

int run(const QStringList& args, const QString& workDir, const Streams& io) {
    return Command(args, workDir, io).run();
}

}  // namespace vts::ctl
