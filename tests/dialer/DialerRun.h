#pragma once

// The dialer run as the pager control starts it, against pagesim: a test
// writes a port file, runs calvex in its working directory and checks the
// port file byte for byte and what the simulator recorded.
#include <PortRecord.h>
#include <Programs.h>
#include <TestSupport.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>

namespace vts::test {

inline constexpr int kStatusOffset = 634;

inline PortRecord message(int slot, const QString& text,
                          const QString& pin = QStringLiteral("1234567")) {
    PortRecord r;
    r.comPort = 1;
    r.message = text;
    r.phoneNumber = QStringLiteral("555-1000");
    r.pin = pin;
    r.status = 1;
    r.timeout = 10;
    r.debugMode = 1;
    r.uniqueId = QString::number(1000 + slot);
    r.speakerState = 1;
    r.volumeLevel = 2;
    r.index = slot;
    return r;
}

class DialerRun : public TempDirTest {
protected:
    void TearDown() override {
        if (m_sim.state() != QProcess::NotRunning) {
            m_sim.terminate();
            m_sim.waitForFinished(5000);
        }
        TempDirTest::TearDown();
    }

    // Starts the simulator with the given scenario and fast protocol timings.
    // `ports` is pagesim's port option: "--ports 1,2" (modems), "--tcp 1", ...
    void startSim(const QString& scenario = QString(), const QString& ports = QStringLiteral("1"),
                  const QString& portOption = QStringLiteral("--ports"),
                  const QByteArray& moreIni = QByteArray()) {
        QStringList args{QStringLiteral("--dir"),
                         dir(),
                         portOption,
                         ports,
                         QStringLiteral("--pages"),
                         path(QStringLiteral("pages.jsonl")),
                         QStringLiteral("--calls"),
                         path(QStringLiteral("calls.jsonl")),
                         QStringLiteral("--ini"),
                         path(QStringLiteral("calvex.ini")),
                         QStringLiteral("--guard"),
                         QStringLiteral("0.1")};
        writeFile(
            QStringLiteral("calvex.ini"),
            "[tap]\nt1=0.5\nt3=5\n[modem]\nguard=0.15\nhangupreply=1\ndevicewait=5\n" + moreIni);
        if (!scenario.isEmpty()) {
            writeFile(QStringLiteral("scenario.txt"), scenario.toUtf8());
            args << QStringLiteral("--scenario") << path(QStringLiteral("scenario.txt"));
        }
        m_sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        startPagesim(m_sim, args);
    }

    void writePortFile(const QList<PortRecord>& records, int portIndex = 1) {
        PortRecord header = records.last();
        header.status = 1;
        header.index = static_cast<std::int32_t>(records.size());
        QByteArray bytes = header.encode();
        for (const PortRecord& r : records) {
            bytes += r.encode();
        }
        writeFile(portfile::fileName(portIndex), bytes);
        m_before = bytes;
    }

    // Runs calvex with the argument as the pager control passes it.
    int runDialer(const QString& arg = QStringLiteral(" 1"), QProcess* proc = nullptr) {
        QProcess own;
        QProcess& p = proc ? *proc : own;
        p.setWorkingDirectory(dir());
        p.setProcessChannelMode(QProcess::ForwardedChannels);
        p.start(test::binDir() + QStringLiteral("/calvex"), {arg});
        if (!p.waitForStarted(5000)) {
            return -1;
        }
        if (proc) {
            return 0;
        }
        EXPECT_TRUE(p.waitForFinished(30000));
        return p.exitCode();
    }

    // Starts calvex, waits until the terminal has accepted `accepted` pages,
    // gives the next one `ms` to get on its way, then sends the stop signal
    // and waits for calvex to end.
    void stopDialerAfter(int accepted, int ms) {
        QProcess dialer;
        ASSERT_EQ(runDialer(QStringLiteral(" 1"), &dialer), 0);
        for (int i = 0; i < 200 && pages().size() < accepted; ++i) {
            dialer.waitForFinished(50);
        }
        ASSERT_EQ(pages().size(), accepted);
        dialer.waitForFinished(ms);
        ::kill(static_cast<pid_t>(dialer.processId()), SIGTERM);
        ASSERT_TRUE(dialer.waitForFinished(10000));
    }

    // The port file must equal what was written with only the Status fields
    // changed: header first, then one per message record.
    void expectStatuses(std::int16_t header, const QList<std::int16_t>& messages) {
        QByteArray expected = m_before;
        auto put = [&](int record, std::int16_t s) {
            expected[(record - 1) * PortRecord::kSize + kStatusOffset] =
                static_cast<char>(s & 0xFF);
            expected[(record - 1) * PortRecord::kSize + kStatusOffset + 1] =
                static_cast<char>((s >> 8) & 0xFF);
        };
        put(1, header);
        for (int i = 0; i < messages.size(); ++i) {
            put(i + 2, messages[i]);
        }
        const QByteArray actual = readFile(portfile::fileName(1));
        ASSERT_EQ(actual.size(), expected.size());
        for (qsizetype r = 0; r < actual.size() / PortRecord::kSize; ++r) {
            const QByteArray a = actual.mid(r * PortRecord::kSize, PortRecord::kSize);
            const QByteArray e = expected.mid(r * PortRecord::kSize, PortRecord::kSize);
            EXPECT_TRUE(a == e) << "record " << r + 1 << " status " << PortRecord::decode(a)->status
                                << ", expected " << PortRecord::decode(e)->status;
        }
    }

    QList<QJsonObject> pages() { return jsonLines(readFile(QStringLiteral("pages.jsonl"))); }
    QList<QJsonObject> calls() { return jsonLines(readFile(QStringLiteral("calls.jsonl"))); }
    // The calls recorded, once the simulator has recorded one (about two
    // seconds at the most).
    QList<QJsonObject> awaitCalls() {
        for (int i = 0; i < 100 && calls().isEmpty(); ++i) {
            m_sim.waitForFinished(20);
        }
        return calls();
    }
    // The simulated terminal found nothing the protocol forbids in any call.
    void expectNoViolations() {
        awaitCalls();
        ASSERT_FALSE(calls().isEmpty());
        for (const QJsonObject& c : calls()) {
            EXPECT_TRUE(c.value(QLatin1String("violations")).toArray().isEmpty())
                << QJsonDocument(c).toJson().constData();
        }
    }

    QProcess m_sim;
    QByteArray m_before;
};

inline QString str(const QJsonObject& o, const char* key) {
    return o.value(QLatin1String(key)).toString();
}

}  // namespace vts::test
