#pragma once

#include "ConfigStore.h"
#include "GatewayConfig.h"
#include "PageSubmitter.h"
#include "Session.h"
#include "TestSupport.h"
#include "TextFile.h"
#include "VirtualEventLoop.h"

#include <QDir>
#include <QStringList>

#include <memory>

namespace vts::gate::test {

inline const QByteArray kIni =
    "[snpp]\nlisten = 127.0.0.1:0\n"
    "[smtp]\nlisten = 127.0.0.1:0\ndomain = pager.local\n"
    "[http]\nlisten = 127.0.0.1:0\ntoken = s3cret-token\n"
    "[gateway]\ncomputer = GATE-PC\n"
    "[recipients]\n; name = number, PIN [, maximum characters]\n"
    "BOB = 5551234, 1001\nOnCall = 5559876, 1002, 80\n";

// A working directory as vtsinit makes it (VTSCFG.MDB, QUEUE with its three
// subfolders) with vtsgate.ini, a virtual-time loop and a page desk whose log
// lines are collected.
class GatewayFixture : public vts::test::TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        for (const char* sub : {"QUEUE/PENDING", "QUEUE/SENT", "QUEUE/FAILED"}) {
            ASSERT_TRUE(QDir(dir()).mkpath(QString::fromLatin1(sub)));
        }
        configstore::createNew(path(configstore::kFileName), QStringLiteral("QUEUE"));
        writeIni(kIni);
        m_config = std::make_unique<ConfigSource>(path(QStringLiteral("vtsgate.ini")));
        QString error;
        ASSERT_TRUE(m_config->load(&error)) << error.toStdString();
        m_log = std::make_unique<GatewayLog>([this](const QString& l) { m_logLines << l; });
        m_desk = std::make_unique<PageSubmitter>(dir(), *m_config, *m_log, m_loop);
    }
    void writeIni(const QByteArray& text) { writeFile(QStringLiteral("vtsgate.ini"), text); }

    QStringList queued() const {
        return QDir(path(QStringLiteral("QUEUE")))
            .entryList({QStringLiteral("A*.PMF")}, QDir::Files, QDir::Name);
    }
    // A queued file's lines.
    QStringList fileLines(const QString& name) const {
        return text::readLines(path(QStringLiteral("QUEUE/") + name)).value_or(QStringList());
    }
    bool logged(const QString& text) const {
        for (const QString& l : m_logLines) {
            if (l.contains(text)) {
                return true;
            }
        }
        return false;
    }

    VirtualEventLoop m_loop;
    std::unique_ptr<ConfigSource> m_config;
    std::unique_ptr<GatewayLog> m_log;
    std::unique_ptr<PageSubmitter> m_desk;
    QStringList m_logLines;
};

// Runs a session without a socket: what it sends is collected.
template <class S>
class SessionDriver {
public:
    explicit SessionDriver(PageSubmitter& desk, const QString& peer = QStringLiteral("127.0.0.1"))
        : m_session(desk, peer,
                    Session::Io{[this](const QByteArray& b) {
                                    m_out += b;
                                    return true;
                                },
                                [this] { m_closed = true; }}) {}
    // Sends bytes and returns what the session answered to them.
    QByteArray operator()(const QByteArray& bytes) {
        m_out.clear();
        m_session.receive(bytes);
        return m_out;
    }
    QByteArray start() {
        m_out.clear();
        m_session.start();
        return m_out;
    }
    S& session() { return m_session; }
    bool closed() const { return m_closed; }

private:
    QByteArray m_out;
    bool m_closed = false;
    S m_session;
};

}  // namespace vts::gate::test
