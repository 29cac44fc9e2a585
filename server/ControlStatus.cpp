#include "ControlStatus.h"

#include "ControlSocket.h"
#include "MonitorCore.h"
#include "PagerOCX.h"
#include "PortBatch.h"
#include "PortRecord.h"
#include "SendQueue.h"
#include "ServerSettings.h"
#include "StatusListModel.h"
#include "Version.h"

#include <Dialer.h>
#include <Paths.h>
#include <PortKinds.h>
#include <Transport.h>

#include <QDir>
#include <QJsonArray>

namespace vts::controlstatus {

namespace {

// Message files in `folder` (queue files are "*.PMF" in any letter case).
int countFiles(const QString& folder) {
    if (folder.isEmpty()) return 0;
    return static_cast<int>(paths::listFiles(folder, QStringLiteral("*.PMF")).size());
}

QString portState(const QString& file) {
    PortBatch batch(file);
    if (!batch.headerRead()) return QStringLiteral("idle");
    if (batch.is(PortStatus::Idle)) return QStringLiteral("idle");
    if (batch.is(PortStatus::Busy)) return QStringLiteral("dialling");
    return QStringLiteral("finishing");
}

QString iso(const QDateTime& t) { return t.isValid() ? t.toString(Qt::ISODate) : QString(); }

// Port position p as the dialer would serve it: the kind and target of its
// calvex.ini entry (a port whose entry does not parse is unusable, and
// says why), its state, its run on the line and its last settled page.
QJsonObject portStatus(PagerOCX& pager, int p, const DialerOptions& dialer,
                       const QString& workingDir, const QDateTime& started) {
    const int com = pager.portAt(p);
    QJsonObject o{{"port", p}, {"com", com}};
    QString why;
    const auto target = PortTarget::parse(dialer.devicePath(com), &why);
    QString state = portState(QDir(workingDir).filePath(portfile::fileName(p)));
    if (target) {
        const char* scheme = portKind(target->kind).scheme;
        o.insert("kind", *scheme ? QString::fromLatin1(scheme) : QStringLiteral("modem"));
        o.insert("target", target->describe());
    } else {
        o.insert("kind", QString());
        o.insert("target", dialer.devicePath(com));
    }
    const PortActivity a = pager.portActivity(p);
    if (pager.portHeld(p)) {
        state = QStringLiteral("held");
        o.insert("cause", QStringLiteral("held by a dialer of an earlier run"));
    } else if (!target && state == QLatin1String("idle")) {
        state = QStringLiteral("unusable");
        o.insert("cause", why);
    } else if (const auto ps = pager.portState(p); ps.unusable || ps.passedOver) {
        // Unusable until calvex.ini changes (a refused SIM PIN), or passed
        // over by its routes until a probe finds it working again.
        if (ps.unusable && state == QLatin1String("idle")) state = QStringLiteral("unusable");
        o.insert("passedOver", ps.passedOver);
        o.insert("cause", ps.reason);
    }
    o.insert("state", state);
    o.insert("batch", state == QLatin1String("dialling") ? a.batch : 0);
    o.insert("since", iso(a.since.isValid() ? a.since : started));
    if (!a.lastId.isEmpty()) {
        QJsonObject last{{"id", a.lastId}, {"status", a.lastResult}, {"at", iso(a.lastAt)}};
        if (!a.lastCause.isEmpty()) last.insert("cause", a.lastCause);
        o.insert("lastResult", last);
    }
    return o;
}

}  // namespace

QJsonObject build(MonitorCore& core, const QString& workingDir, const QDateTime& started) {
    QJsonObject o;
    o.insert("version", QString::fromLatin1(suiteVersion()));
    o.insert("started", started.toString(Qt::ISODate));
    o.insert("checkSeconds", settings::checkIntervalSeconds(core.settings().CheckTime));
    if (const auto last = core.lastCheck()) o.insert("lastCheck", last->toString(Qt::ISODate));
    QJsonArray ports;
    if (PagerOCX* pager = core.pager()) {
        const DialerOptions dialer =
            DialerOptions::fromIni(paths::settingsFile(QStringLiteral("calvex.ini"), workingDir));
        for (int p = 1; p <= pager->NumPorts(); ++p)
            ports.append(portStatus(*pager, p, dialer, workingDir, started));
        o.insert("inControl", pager->queue().count());
    }
    o.insert("ports", ports);
    o.insert("journal", core.journalCount());
    const QString q = paths::resolve(core.settings().MessageQueueLocation.trimmed(), workingDir);
    QJsonObject queue;
    queue.insert("queue", countFiles(q));
    for (const char* sub : {"PENDING", "SENT", "FAILED"}) {
        const QString folder = paths::resolve(QString::fromLatin1(sub), q);
        queue.insert(QString::fromLatin1(sub), QDir(folder).exists() ? countFiles(folder) : 0);
    }
    o.insert("queue", queue);
    QJsonArray lines;
    const QStringList& all = core.status().lines();
    for (qsizetype i = std::max<qsizetype>(0, all.size() - kLines); i < all.size(); ++i)
        lines.append(all.at(i));
    o.insert("lines", lines);
    return o;
}

QString summary(const QJsonObject& status) {
    const QJsonObject q = status.value("queue").toObject();
    int dialling = 0;
    for (const auto& p : status.value("ports").toArray())
        if (p.toObject().value("state").toString() == QLatin1String("dialling")) ++dialling;
    return QStringLiteral("%1 in queue, %2 pending, %3 of %4 ports dialling")
        .arg(q.value("queue").toInt())
        .arg(q.value("PENDING").toInt())
        .arg(dialling)
        .arg(status.value("ports").toArray().size());
}

}  // namespace vts::controlstatus

namespace vts {

void wireControlSocket(ControlSocket& control, MonitorCore& core) {
    StatusListModel& list = core.status();
    QObject::connect(&list, &StatusListModel::lineAdded, &control,
                     [&control, &list](int) { control.statusLine(list.last()); });
    PagerOCX* pager = core.pager();
    if (!pager) return;
    QObject::connect(&core, &MonitorCore::pageSubmitted, &control, [&control](const QString& id) {
        control.pageEvent(QStringLiteral("submitted"), id);
    });
    QObject::connect(pager, &PagerOCX::MessageSent, &control, [&control](const QString& id) {
        control.pageEvent(QStringLiteral("sent"), id);
    });
    QObject::connect(pager, &PagerOCX::MessageCancelled, &control, [&control](const QString& id) {
        control.pageEvent(QStringLiteral("cancelled"), id);
    });
    QObject::connect(pager, &PagerOCX::MessageFailed, &control, [&control](const QString& id) {
        control.pageEvent(QStringLiteral("failed"), id);
    });
    QObject::connect(pager, &PagerOCX::MessageCause, &control,
                     [&control](const QString& id, const QString& cause, bool retried) {
                         control.pageEvent(
                             retried ? QStringLiteral("retried") : QStringLiteral("cause"), id,
                             cause);
                     });
}

}  // namespace vts
