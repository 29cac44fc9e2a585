#include "ConnectFlow.h"
#include "RecordingLauncher.h"
#include "ScriptedDialogs.h"
#include "UpdaterActions.h"

#include "TestServer.h"
#include "TestSupport.h"
#include "VirtualEventLoop.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace vts;
using vts::test::pumpUntil;
using vts::test::TestServer;

namespace {

const QByteArray kOldVersion = "VT 3.0.1\r\nbuilt 1998-07-01\r\n";
const QByteArray kNewVersion = "VT 3.0.2\r\nbuilt 1998-09-12\r\nfixes: many\r\n";
const QByteArray kOldProgram = "old client program";

QByteArray bigProgram(int n) {
    QByteArray b(n, '\0');
    for (int i = 0; i < n; ++i) b[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    return b;
}

// A program folder in the test's directory, an update server serving www/,
// and the flow wired to scripted dialogs, a recording launcher and
// virtual time.
class ConnectFlowTest : public test::TempDirTest {
public:
    void SetUp() override {
        TempDirTest::SetUp();
        QDir().mkpath(path("prog"));
        QDir().mkpath(path("www/zupdate"));
        QDir().mkpath(path("requests"));
    }
    QString prog(const QString& name = {}) const {
        return name.isEmpty() ? path("prog") : path("prog/" + name);
    }
    QByteArray progFile(const QString& name) const { return readFile("prog/" + name); }
    void serve(const QByteArray& versionFile, const QByteArray& program) {
        writeFile("www/zupdate/fileinfo.txt", versionFile);
        writeFile("www/zupdate/vtupdate.exe", program);
    }
    void local(const QByteArray& versionFile, const QByteArray& program = kOldProgram) {
        if (!versionFile.isNull()) writeFile("prog/FILEINFO.TXT", versionFile);
        writeFile("prog/VT.EXE", program);
    }
    void startScript(const QStringList& modes = {}, int pauseAfter = 0) {
        m_server = TestServer::script(path("www"), path("requests"), modes, pauseAfter);
        ASSERT_TRUE(m_server->ok()) << m_server->output().toStdString();
        m_port = m_server->port();
    }
    void startPython() {
        m_server = TestServer::pythonHttpServer(path("www"));
        ASSERT_TRUE(m_server->ok()) << m_server->output().toStdString();
        m_port = m_server->port();
    }
    void makeFlow() {
        ServerAddress server;
        server.host = QStringLiteral("127.0.0.1");
        server.port = m_port;
        m_actions = std::make_unique<UpdaterActions>(ProgramFolder(prog()), server, m_loop,
                                                     m_dialogs, m_launcher);
        m_flow = std::make_unique<ConnectFlow>(*m_actions);
        QObject::connect(m_actions.get(), &UpdaterActions::quitRequested,
                         [this] { m_quit = true; });
        QObject::connect(m_actions.get(), &UpdaterActions::instructionsRequested,
                         [this] { m_instructions = true; });
        QObject::connect(m_flow.get(), &ConnectFlow::operationEnded, [this] { m_ended = true; });
        QObject::connect(m_flow.get(), &ConnectFlow::progressChanged, [this](int p) {
            m_progress.push_back({m_flow->received(), p});
        });
    }
    // Runs one Update click to its end (quit, or the window closing).
    void runUpdate() {
        makeFlow();
        m_flow->getUpdate();
        ASSERT_TRUE(pumpUntil([this] { return m_quit || m_ended; }, 20000));
    }
    QByteArray request(int n) const {
        return readFile(QStringLiteral("requests/request-%1.bin").arg(n));
    }
    QStringList leftovers() const {
        QStringList names = QDir(prog()).entryList(QDir::Files | QDir::NoDotAndDotDot);
        names.sort(Qt::CaseSensitive);
        return names;
    }
    bool startedClient() const {
        return m_launcher.requests.size() == 1 && m_launcher.requests[0].program == "VT.EXE" &&
               m_launcher.requests[0].folder == prog();
    }

    std::unique_ptr<TestServer> m_server;
    quint16 m_port = 0;
    VirtualEventLoop m_loop;
    ScriptedDialogs m_dialogs;
    RecordingLauncher m_launcher;
    std::unique_ptr<UpdaterActions> m_actions;
    std::unique_ptr<ConnectFlow> m_flow;
    bool m_quit = false;
    bool m_ended = false;
    bool m_instructions = false;
    std::vector<std::pair<qint64, int>> m_progress;
};

TEST_F(ConnectFlowTest, IdenticalFirstLinesMeanLatestVersion) {
    serve(kOldVersion, "new program");
    local(kOldVersion);
    startPython();
    runUpdate();
    EXPECT_TRUE(m_quit);
    EXPECT_EQ(m_dialogs.texts(), QStringList{"You already have the latest version of Vantrel."});
    EXPECT_TRUE(startedClient());
    EXPECT_EQ(progFile("VT.EXE"), kOldProgram);
    EXPECT_EQ(progFile("GETVT/FILEINFO.TXT"), kOldVersion);
    EXPECT_FALSE(QFileInfo::exists(prog("UPDATED.TXT")));
    EXPECT_TRUE(m_flow->status().isEmpty());
}

TEST_F(ConnectFlowTest, EveryEndingStartsTheClientOnceAndLetsTheWindowClose) {
    // On the way out the windows close, which runs Cancel once more: that
    // must neither decline nor start VT.EXE again, and must not be refused
    // as if a transfer were still busy.
    struct Case {
        const char* name;
        QByteArray served;
    };
    for (const Case& c : {Case{"LatestVersion", kOldVersion}, Case{"Downloaded", kNewVersion}}) {
        SCOPED_TRACE(c.name);
        serve(c.served, "new program");
        local(kOldVersion);
        QFile::remove(prog("UPDATED.TXT"));
        m_launcher.requests.clear();
        m_quit = m_instructions = false;
        startPython();
        runUpdate();
        ASSERT_TRUE(m_quit);
        EXPECT_FALSE(m_flow->busy());
        const bool updatedBefore = QFileInfo::exists(prog("UPDATED.TXT"));
        m_flow->cancel();      // the connect window closing
        m_actions->decline();  // the main window closing
        m_actions->startClientAndQuit();
        m_flow->getUpdate();  // a late click on Update
        EXPECT_FALSE(m_flow->running());
        EXPECT_TRUE(startedClient()) << m_launcher.requests.size();
        EXPECT_FALSE(m_instructions);
        EXPECT_EQ(QFileInfo::exists(prog("UPDATED.TXT")), updatedBefore);
        m_dialogs.clear();
    }
}

TEST_F(ConnectFlowTest, OnlyTheFirstLineCounts) {
    serve("VT 3.0.1\r\nsomething else entirely\r\n", "new program");
    local(kOldVersion);
    startPython();
    runUpdate();
    EXPECT_EQ(m_dialogs.texts(), QStringList{"You already have the latest version of Vantrel."});
    EXPECT_EQ(progFile("VT.EXE"), kOldProgram);
    EXPECT_EQ(progFile("FILEINFO.TXT"), kOldVersion);
}

TEST_F(ConnectFlowTest, CaseAndBlanksInTheFirstLineCount) {
    serve("vt 3.0.1 \r\n", "new program");
    local(kOldVersion);
    startPython();
    runUpdate();
    EXPECT_TRUE(m_quit);
    EXPECT_TRUE(m_dialogs.texts().isEmpty());
    EXPECT_EQ(progFile("VT.EXE"), "new program");
}

TEST_F(ConnectFlowTest, DifferentFirstLineDownloadsAndReplacesTheClient) {
    const QByteArray program = bigProgram(200000);
    serve(kNewVersion, program);
    local(kOldVersion);
    startScript();
    makeFlow();
    // While the transfer runs, the old program and version file are intact.
    bool checkedDuringTransfer = false;
    QObject::connect(m_flow.get(), &ConnectFlow::progressChanged, [&] {
        if (checkedDuringTransfer) return;
        checkedDuringTransfer = true;
        EXPECT_EQ(progFile("VT.EXE"), kOldProgram);
        EXPECT_EQ(progFile("FILEINFO.TXT"), kOldVersion);
        EXPECT_TRUE(m_flow->busy());
    });
    m_flow->getUpdate();
    EXPECT_EQ(m_flow->status(), QStringLiteral(" Updating...please wait."));
    ASSERT_TRUE(pumpUntil([this] { return m_quit || m_ended; }, 20000));

    EXPECT_TRUE(checkedDuringTransfer);
    EXPECT_TRUE(m_quit);
    EXPECT_TRUE(m_dialogs.texts().isEmpty()) << m_dialogs.texts().join('|').toStdString();
    EXPECT_EQ(progFile("VT.EXE"), program);
    EXPECT_TRUE(QFileInfo(prog("VT.EXE")).permissions() & QFileDevice::ExeOwner);
    EXPECT_EQ(progFile("FILEINFO.TXT"), kNewVersion);
    EXPECT_EQ(progFile("GETVT/FILEINFO.TXT"), kNewVersion);
    EXPECT_EQ(progFile("UPDATED.TXT"), QByteArray("1/5/2026 9:00:00 AM\r\n"));
    EXPECT_TRUE(startedClient());
    EXPECT_FALSE(m_flow->busy());
    EXPECT_EQ(m_flow->progress(), 100);
    EXPECT_EQ(leftovers(), (QStringList{"FILEINFO.TXT", "UPDATED.TXT", "VT.EXE"}));

    EXPECT_EQ(request(1), QByteArray("GET /zupdate/fileinfo.txt HTTP/1.1\r\nHost: 127.0.0.1:") +
                              QByteArray::number(m_port) + "\r\nAccept: */*\r\n\r\n");
    EXPECT_EQ(request(2), QByteArray("GET /zupdate/vtupdate.exe HTTP/1.0\r\n"
                                     "User-Agent: Vantrel Update/3.0\r\n\r\n"));
}

TEST_F(ConnectFlowTest, ProgressFollowsTheRunningTotal) {
    const QByteArray program = bigProgram(50000);
    serve(kNewVersion, program);
    local(kOldVersion);
    startScript({"/zupdate/vtupdate.exe=pause"}, 25000);
    makeFlow();
    m_flow->getUpdate();
    ASSERT_TRUE(pumpUntil([this] { return m_flow->received() == 25000 || m_ended; }));
    EXPECT_EQ(m_flow->contentLength(), 50000);
    EXPECT_EQ(m_flow->progress(), 50);
    EXPECT_TRUE(m_flow->busy());
    m_server->resume();
    ASSERT_TRUE(pumpUntil([this] { return m_quit || m_ended; }));
    EXPECT_TRUE(m_quit);
    EXPECT_EQ(m_flow->progress(), 100);
    for (const auto& [total, percent] : m_progress)
        EXPECT_EQ(percent, ConnectFlow::percent(total, 50000)) << total;
    EXPECT_EQ(m_progress.back(), (std::pair<qint64, int>{50000, 100}));
    EXPECT_EQ(progFile("VT.EXE"), program);
}

TEST_F(ConnectFlowTest, DownloadWithoutContentLengthStillCompletes) {
    serve(kNewVersion, bigProgram(30000));
    local(kOldVersion);
    startScript({"/zupdate/vtupdate.exe=nolength"});
    runUpdate();
    EXPECT_TRUE(m_quit);
    EXPECT_EQ(m_flow->contentLength(), 0);
    EXPECT_EQ(m_flow->progress(), 0);
    EXPECT_EQ(progFile("VT.EXE"), bigProgram(30000));
    EXPECT_EQ(progFile("FILEINFO.TXT"), kNewVersion);
}

TEST_F(ConnectFlowTest, BrokenTransferLeavesTheClientAsItWas) {
    serve(kNewVersion, bigProgram(100000));
    local(kOldVersion);
    startScript({"/zupdate/vtupdate.exe=broken"});
    runUpdate();
    EXPECT_TRUE(m_ended);
    EXPECT_FALSE(m_quit);
    EXPECT_EQ(m_dialogs.texts(), QStringList{ConnectFlow::kDownloadFailed});
    EXPECT_EQ(progFile("VT.EXE"), kOldProgram);
    EXPECT_EQ(progFile("FILEINFO.TXT"), kOldVersion);
    EXPECT_EQ(leftovers(), (QStringList{"FILEINFO.TXT", "VT.EXE"}));  // no temporary file left
    EXPECT_TRUE(m_launcher.requests.empty());
    EXPECT_FALSE(m_flow->busy());
    EXPECT_FALSE(m_flow->running());
}

TEST_F(ConnectFlowTest, MissingDownloadIsAFailureNotAnEmptyProgram) {
    writeFile("www/zupdate/fileinfo.txt", kNewVersion);  // no vtupdate.exe: 404
    local(kOldVersion);
    startScript();
    runUpdate();
    EXPECT_TRUE(m_ended);
    EXPECT_EQ(m_dialogs.texts(), QStringList{ConnectFlow::kDownloadFailed});
    EXPECT_EQ(progFile("VT.EXE"), kOldProgram);
    EXPECT_EQ(progFile("FILEINFO.TXT"), kOldVersion);
}

TEST_F(ConnectFlowTest, VersionFileFailuresWarnAndWriteOnlyTheFolder) {
    struct Row {
        const char* name;
        std::function<void(ConnectFlowTest&)> setUp;
    };
    const Row rows[] = {
        {"404", [](ConnectFlowTest& t) { t.startPython(); }},
        {"no server", [](ConnectFlowTest& t) { t.m_port = test::closedPort(); }},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        QDir(prog()).removeRecursively();
        QDir().mkpath(prog());
        local(kOldVersion);
        m_dialogs.clear();
        m_ended = m_quit = false;
        r.setUp(*this);
        runUpdate();
        EXPECT_TRUE(m_ended);
        EXPECT_FALSE(m_quit);
        EXPECT_EQ(m_dialogs.texts(),
                  QStringList{"You are not connected to your ISP or your ISP's\n"
                              "server is busy. Please connect to your ISP or try\n"
                              "again later."});
        EXPECT_TRUE(QFileInfo(prog("GETVT")).isDir());
        EXPECT_TRUE(QDir(prog("GETVT")).isEmpty());
        EXPECT_EQ(leftovers(), (QStringList{"FILEINFO.TXT", "VT.EXE"}));
        EXPECT_TRUE(m_launcher.requests.empty());
        EXPECT_FALSE(m_flow->lastError().isEmpty());
    }
}

TEST_F(ConnectFlowTest, ServerThatKeepsTheConnectionOpenDoesNotHang) {
    for (const char* mode : {"keepalive", "chunked"}) {
        SCOPED_TRACE(mode);
        m_quit = m_ended = false;
        m_launcher.requests.clear();
        serve(kOldVersion, "unused");
        local(kOldVersion);
        startScript({QStringLiteral("/zupdate/fileinfo.txt=") + mode});
        runUpdate();  // virtual time never moves: only the body's own framing ends it
        EXPECT_TRUE(m_quit);
        EXPECT_EQ(progFile("GETVT/FILEINFO.TXT"), kOldVersion);
        EXPECT_TRUE(startedClient());
    }
}

TEST_F(ConnectFlowTest, SilentServerRunsIntoTheTimeOut) {
    serve(kNewVersion, "x");
    local(kOldVersion);
    startScript({"/zupdate/fileinfo.txt=hang"});
    makeFlow();
    m_flow->getUpdate();
    ASSERT_TRUE(pumpUntil([this] { return QFileInfo::exists(path("requests/request-1.bin")); }));
    EXPECT_TRUE(m_flow->busy());  // the connection is open
    m_loop.advance(29.0);
    pumpUntil([] { return false; }, 100);
    EXPECT_FALSE(m_ended);
    m_loop.advance(1.5);
    EXPECT_TRUE(m_ended);
    EXPECT_EQ(m_dialogs.texts().size(), 1u);
    EXPECT_TRUE(m_dialogs.texts()[0].startsWith("You are not connected to your ISP"));
}

TEST_F(ConnectFlowTest, MissingLocalVersionFileAlwaysDownloadsAndIsNotCreated) {
    serve(kOldVersion, "new program");
    local(QByteArray());
    startPython();
    runUpdate();
    EXPECT_TRUE(m_quit);
    EXPECT_EQ(progFile("VT.EXE"), "new program");
    EXPECT_FALSE(QFileInfo::exists(prog("FILEINFO.TXT")));
    EXPECT_EQ(progFile("UPDATED.TXT"), QByteArray("1/5/2026 9:00:00 AM\r\n"));
}

TEST_F(ConnectFlowTest, DownloadFolderIsCreatedOnceAndReusedInAnyCase) {
    serve(kOldVersion, "x");
    local(kOldVersion);
    startPython();
    runUpdate();
    EXPECT_TRUE(QFileInfo(prog("GETVT")).isDir());
    // A second attempt with the folder spelt in other letters reuses it.
    QDir(prog()).rename("GETVT", "GetVt");
    m_quit = false;
    runUpdate();
    EXPECT_TRUE(m_quit);
    EXPECT_EQ(QDir(prog()).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList{"GetVt"});
    EXPECT_EQ(progFile("GetVt/FILEINFO.TXT"), kOldVersion);
}

TEST_F(ConnectFlowTest, ClientProgramInOtherLettersIsReplacedInPlace) {
    serve(kNewVersion, "new program");
    writeFile("prog/fileinfo.txt", kOldVersion);
    writeFile("prog/vt.exe", kOldProgram);
    startPython();
    runUpdate();
    EXPECT_TRUE(m_quit);
    EXPECT_EQ(leftovers(), (QStringList{"UPDATED.TXT", "fileinfo.txt", "vt.exe"}));
    EXPECT_EQ(progFile("vt.exe"), "new program");
    EXPECT_EQ(progFile("fileinfo.txt"), kNewVersion);
}

TEST_F(ConnectFlowTest, CancelBeforeTheConnectionOpensDeclines) {
    local(kOldVersion);
    m_port = test::closedPort();
    makeFlow();
    m_flow->cancel();
    EXPECT_TRUE(m_instructions);
    EXPECT_EQ(progFile("UPDATED.TXT"), QByteArray("1/5/2026 9:00:00 AM\r\n"));
    EXPECT_TRUE(m_launcher.requests.empty());  // VT.EXE starts once the instructions close
    m_actions->startClientAndQuit();
    EXPECT_TRUE(startedClient());
    EXPECT_TRUE(m_quit);
}

// A server that stops sending holds neither the fetch nor the download:
// Cancel drops the connection at once, no partial file is left, VT.EXE and
// FILEINFO.TXT stay as they were, and the update is declined.
TEST_F(ConnectFlowTest, CancelStopsAStalledTransferAtOnce) {
    struct Row {
        const char* name;
        QString mode;
        std::function<bool()> stalled;
    };
    const Row rows[] = {
        {"StalledDownload", "/zupdate/vtupdate.exe=pause",
         [this] { return m_flow->received() == 25000; }},
        {"SilentVersionServer", "/zupdate/fileinfo.txt=hang",
         [this] { return m_flow->busy() && QFileInfo::exists(path("requests/request-1.bin")); }},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        QDir(prog()).removeRecursively();
        QDir(path("requests")).removeRecursively();
        QDir().mkpath(prog());
        QDir().mkpath(path("requests"));
        serve(kNewVersion, bigProgram(50000));
        local(kOldVersion);
        m_instructions = m_ended = false;
        startScript({r.mode}, 25000);
        makeFlow();
        m_flow->getUpdate();
        ASSERT_TRUE(pumpUntil([&] { return r.stalled() || m_ended; }));
        ASSERT_TRUE(m_flow->busy());
        m_flow->cancel();
        EXPECT_FALSE(m_flow->busy());
        EXPECT_FALSE(m_flow->running());
        EXPECT_TRUE(m_instructions);
        EXPECT_EQ(m_flow->progress(), 0);
        // The dropped connection reports nothing later.
        pumpUntil([] { return false; }, 200);
        EXPECT_FALSE(m_ended);
        EXPECT_TRUE(m_dialogs.texts().isEmpty()) << m_dialogs.texts().join('|').toStdString();
        EXPECT_EQ(progFile("VT.EXE"), kOldProgram);
        EXPECT_EQ(progFile("FILEINFO.TXT"), kOldVersion);
        EXPECT_EQ(QDir(prog()).entryList(QDir::Files | QDir::Hidden),
                  (QStringList{"FILEINFO.TXT", "UPDATED.TXT", "VT.EXE"}));
    }
}

TEST_F(ConnectFlowTest, ClientThatCannotStartIsReportedAndTheUpdaterStillQuits) {
    makeFlow();
    m_launcher.onStart = [](const Launcher::Request&) { return nullptr; };
    m_actions->startClientAndQuit();
    EXPECT_TRUE(m_quit);
    ASSERT_EQ(m_dialogs.texts().size(), 1u);
    EXPECT_TRUE(m_dialogs.texts()[0].startsWith("Vantrel could not be started."));
}

}  // namespace
