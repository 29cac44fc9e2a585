#pragma once

// The real vtsmonitor without a display on a fresh store and message queue,
// with pagesim beside it: tests write pages with vtspage, start the server
// and check its status lines, the queue folders and the log rows.
#include "Programs.h"
#include "TestSupport.h"

#include <ConfigStore.h>
#include <Database.h>
#include <LogStore.h>

#include <QDir>
#include <QProcess>

#include <csignal>

namespace vts::test {

class MonitorRun : public TempDirTest {
protected:
    // A store without modems whose pages are tried once, one second each.
    void SetUp() override {
        TempDirTest::SetUp();
        QDir d(dir());
        for (const char* sub : {"queue/PENDING", "queue/SENT", "queue/FAILED"}) {
            ASSERT_TRUE(d.mkpath(QString::fromLatin1(sub)));
        }
        configstore::createNew(path(configstore::kFileName), path(QStringLiteral("queue")));
        auto db = configstore::open(dir());
        db->execute(QStringLiteral("delete from tblModems"));
        db->execute(QStringLiteral("update tblConfig set CheckTime=0, NumberOfRetries=0, "
                                   "DelayBeforeRetries=1, TimeOut=1, PageFailAlert=0, "
                                   "ModemFailAlert=0, AudioAlert=0, VisualAlert=0, "
                                   "PMFExpireDays=NULL, MessageQueueLocation=?"),
                    {path(QStringLiteral("queue"))});
    }
    void TearDown() override {
        killProcess(m_server);
        killProcess(m_sim);
        TempDirTest::TearDown();
    }

    // pagesim with its files in this directory, and `ports` naming its ports.
    void startSim(const QStringList& ports) {
        startPagesim(m_sim,
                     QStringList{QStringLiteral("--dir"), path(QStringLiteral("sim")),
                                 QStringLiteral("--pages"), path(QStringLiteral("pages.jsonl")),
                                 QStringLiteral("--ini"), path(QStringLiteral("calvex.ini"))} +
                         ports);
    }

    void startServer() {
        m_out.clear();
        startMonitor(m_server, dir());
    }

    // Waits for a line of standard output containing `text`.
    bool waitForOutput(const QString& text, int ms = 45000) {
        return test::waitForOutput(m_server, m_out, text, ms);
    }

    // Writes a page with vtspage; its message file's name.
    QString page(const QString& text, const QString& pin, const QString& phone,
                 const QString& computer) {
        QProcess p;
        p.start(
            binDir() + QStringLiteral("/vtspage"),
            {QStringLiteral("--queue"), path(QStringLiteral("queue")), QStringLiteral("--phone"),
             phone, QStringLiteral("--pin"), pin, QStringLiteral("--computer"), computer, text});
        p.waitForFinished(10000);
        return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
    }

    QStringList filesIn(const QString& sub) const {
        return QDir(path(QStringLiteral("queue/") + sub)).entryList(QDir::Files, QDir::Name);
    }

    // Status of each tblLog row, in ID order.
    QList<int> logStatuses() {
        QList<int> out;
        auto db = logstore::open(dir());
        auto rs = db->openQuery(QStringLiteral("select Status from tblLog order by ID"));
        for (; !rs->eof(); rs->moveNext()) {
            out << rs->int32(QStringLiteral("Status"));
        }
        return out;
    }

    void stopServer() {
        ::kill(static_cast<pid_t>(m_server.processId()), SIGTERM);
        ASSERT_TRUE(m_server.waitForFinished(15000));
        EXPECT_EQ(m_server.exitCode(), 0);
    }

    QProcess m_server;
    QProcess m_sim;
    QString m_out;
};

}  // namespace vts::test
