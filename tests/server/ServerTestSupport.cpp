#include "ServerTestSupport.h"
#include "RecordingLauncher.h"

#include "ConfigStore.h"
#include "Conversions.h"
#include "Database.h"
#include "LogStore.h"
#include "Paths.h"
#include "StatusListModel.h"
#include "TextFile.h"

#include <QDir>
#include <QFile>

namespace vts::test {

QStringList QueueLines::lines() const {
    QStringList out{method,  computer, clientPath, sender, department, recipient, sentTime, phone,
                    pin,     password, block,      serial, init,       dial,      email,    smtp,
                    reverse, {},       {},         {},     {},         {}};
    out << body;
    return out;
}

void ServerTest::SetUp() {
    TempDirTest::SetUp();
    QDir d(dir());
    for (const char* sub : {"queue", "queue/PENDING", "queue/SENT", "queue/FAILED", "sys"}) {
        ASSERT_TRUE(d.mkpath(QString::fromLatin1(sub)));
    }
    sysDir = path(QStringLiteral("sys"));
    writeFile(QStringLiteral("sys/calvex"), "#!/bin/sh\n");
    QFile::setPermissions(path(QStringLiteral("sys/calvex")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("VANTREL_SYSTEM_DIR", sysDir.toLocal8Bit());

    configstore::createNew(path(configstore::kFileName), queueDir());
    auto db = configstore::open(dir());
    db->execute(QStringLiteral("delete from tblModems"));
    db->execute(QStringLiteral("delete from tblClients"));
    db->execute(
        QStringLiteral("update tblConfig set CheckTime=0, NumberOfRetries=0, DelayBeforeRetries=1, "
                       "AlertByPage=0, ALertByEMail=0, VisualAlert=0, AudioAlert=0, "
                       "PageFailAlert=0, ModemFailAlert=0, PMFExpireDays=NULL, "
                       "MessageQueueLocation=?"),
        {queueDir()});
    db.reset();
    addModem(QStringLiteral("COM1"));

    useStandInDialer();
}

void ServerTest::useStandInDialer() {
    launcher.onStart = [this](const Launcher::Request& r) -> std::shared_ptr<ProcessHandle> {
        auto h = std::make_shared<RecordingLauncher::Handle>();
        if (r.program.compare(QStringLiteral("calvex.exe"), Qt::CaseInsensitive) != 0) {
            return h;
        }
        const int port = conv::trim(r.arguments.value(0)).toInt();
        const QString file = QDir(dir()).filePath(portfile::fileName(port));
        auto header = PortRecord::decode(portfile::readRecord(file, 1).value_or(QByteArray()));
        if (!header) {
            return h;
        }
        Run runInfo;
        runInfo.port = port;
        PortStatus last = PortStatus::Sent;
        for (int r2 = 2; r2 <= header->index + 1; ++r2) {
            auto rec = PortRecord::decode(portfile::readRecord(file, r2).value_or(QByteArray()));
            if (!rec) {
                continue;
            }
            runInfo.messages.push_back(*rec);
            last = dialer ? dialer(static_cast<int>(runs.size()), *rec) : PortStatus::Sent;
            rec->status = static_cast<std::int16_t>(last);
            portfile::writeRecord(file, r2, rec->encode());
        }
        header->status = static_cast<std::int16_t>(last);
        portfile::writeRecord(file, 1, header->encode());
        runs.push_back(runInfo);
        h->finish();
        return h;
    };
}

void ServerTest::TearDown() {
    m_core.reset();
    qunsetenv("VANTREL_SYSTEM_DIR");
    TempDirTest::TearDown();
}

MonitorCore& ServerTest::core() {
    if (!m_core) {
        MonitorCore::Options o;
        o.workingDir = dir();
        o.programDir = sysDir;
        m_core = std::make_unique<MonitorCore>(loop, dialogs, launcher, view, sound, mailer, o);
    }
    return *m_core;
}

bool ServerTest::startCore() { return core().start(); }

void ServerTest::run(double seconds) {
    for (double t = 0; t < seconds; t += 1.0) {
        loop.advance(1.0);
    }
}

void ServerTest::setSetting(const QString& field, const QVariant& value) {
    auto db = configstore::open(dir());
    db->execute(QStringLiteral("update tblConfig set %1=?").arg(field), {value});
}

void ServerTest::addModem(const QString& comPort) {
    auto db = configstore::open(dir());
    db->execute(QStringLiteral("insert into tblModems (ComPort) values (?)"), {comPort});
}

void ServerTest::clearModems() {
    auto db = configstore::open(dir());
    db->execute(QStringLiteral("delete from tblModems"));
}

void ServerTest::writeQueueFile(const QString& name, const QStringList& lines) {
    ASSERT_TRUE(text::writeLines(QDir(queueDir()).filePath(name), lines));
}

QStringList ServerTest::filesIn(const QString& sub) const {
    QDir d(sub.isEmpty() ? queueDir() : QDir(queueDir()).filePath(sub));
    return d.entryList(QDir::Files, QDir::Name);
}

QVariantMap ServerTest::logRow(qint64 id) {
    QVariantMap out;
    auto db = logstore::open(dir());
    auto rs = db->openTableWhere(QStringLiteral("tblLog"), QStringLiteral("ID"), id);
    if (rs->eof()) {
        return out;
    }
    for (const QString& f : rs->fieldNames()) {
        out.insert(f, rs->value(f));
    }
    return out;
}

int ServerTest::logRowCount() {
    auto db = logstore::open(dir());
    auto rs = db->openQuery(QStringLiteral("select count(*) as n from tblLog"));
    return rs->int32(QStringLiteral("n"));
}

int ServerTest::clientCount() {
    auto db = configstore::open(dir());
    auto rs = db->openQuery(QStringLiteral("select count(*) as n from tblClients"));
    return rs->int32(QStringLiteral("n"));
}

QStringList ServerTest::statusTexts() { return core().status().texts(); }

bool ServerTest::hasStatus(const QString& text) { return statusTexts().contains(text); }

}  // namespace vts::test
