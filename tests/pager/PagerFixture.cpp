#include "PagerFixture.h"
#include "RecordingLauncher.h"

#include <QFile>

namespace vts::test {

StandInDialer::StandInDialer(RecordingLauncher& launcher, VirtualEventLoop& loop, QString dir)
    : m_loop(loop), m_dir(std::move(dir)) {
    launcher.onStart = [this](const Launcher::Request& req) -> std::shared_ptr<ProcessHandle> {
        if (refuseStart) return nullptr;
        DialerRun run;
        run.port = req.arguments.value(0).trimmed().toInt();
        run.arguments = req.arguments;
        run.workingDirectory = req.workingDirectory;
        run.startedAt = m_loop.now();
        const QString file = QDir(m_dir).filePath(portfile::fileName(run.port));
        run.header = *PortRecord::decode(*portfile::readRecord(file, 1));
        for (int r = 2; r <= run.header.index + 1; ++r)
            run.records.push_back(*PortRecord::decode(*portfile::readRecord(file, r)));
        run.handle = std::make_shared<RecordingLauncher::Handle>();
        const std::optional<int> final = script(run);
        for (size_t k = 0; k < run.records.size(); ++k)
            portfile::writeRecord(file, static_cast<int>(k) + 2, run.records[k].encode());
        if (final) {
            PortRecord h = run.header;
            h.status = static_cast<std::int16_t>(*final);
            portfile::writeRecord(file, 1, h.encode());
            run.handle->finish();
        }
        runs.push_back(run);
        return run.handle;
    };
}

std::optional<int> StandInDialer::allSent(DialerRun& run) {
    for (auto& r : run.records) r.status = 2;
    return 2;
}

StandInDialer::Script StandInDialer::all(int status) {
    return [status](DialerRun& run) -> std::optional<int> {
        for (auto& r : run.records) r.status = static_cast<std::int16_t>(status);
        return status;
    };
}

void PagerTest::SetUp() {
    TempDirTest::SetUp();
    sysDir = path(QStringLiteral("system"));
    QDir().mkpath(sysDir);
    writeFile(QStringLiteral("system/calvex"), "#!/bin/sh\n");
    qputenv("VANTREL_SYSTEM_DIR", sysDir.toLocal8Bit());
    dialer = std::make_unique<StandInDialer>(launcher, loop, dir());
}

void PagerTest::TearDown() {
    pager.reset();
    qunsetenv("VANTREL_SYSTEM_DIR");
    TempDirTest::TearDown();
}

PagerOCX& PagerTest::makePager(bool immediate) {
    pager = std::make_unique<PagerOCX>(loop, dialogs, launcher, dir());
    pager->InitProperties();
    if (immediate) {
        pager->setGroupTimeWindow(0);
        pager->setDialingDelay(0);
    }
    auto record = [this](RaisedEvent::Kind kind, const QString& u, const QString& m,
                         const QString& ph, const QString& pin, int flag) {
        RaisedEvent e{kind, u, m, ph, pin, flag, loop.now(), pager->QueueCount()};
        events.push_back(e);
        if (onEvent) onEvent(e);
    };
    QObject::connect(pager.get(), &PagerOCX::MessageSent,
                     [record](auto& u, auto& m, auto& ph, auto& pin) {
                         record(RaisedEvent::Sent, u, m, ph, pin, 0);
                     });
    QObject::connect(pager.get(), &PagerOCX::MessageCancelled,
                     [record](auto& u, auto& m, auto& ph, auto& pin) {
                         record(RaisedEvent::Cancelled, u, m, ph, pin, 0);
                     });
    QObject::connect(pager.get(), &PagerOCX::MessageFailed,
                     [record](auto& u, auto& m, auto& ph, auto& pin, std::int16_t flag) {
                         record(RaisedEvent::Failed, u, m, ph, pin, flag);
                     });
    return *pager;
}

void PagerTest::removeDialer() { QFile::remove(path(QStringLiteral("system/calvex"))); }

void PagerTest::send(const QString& uid, const QString& phone, const QString& message) {
    pager->SendMessage(message, phone, QStringLiteral("1234"), 80, uid);
}

PortRecord PagerTest::readRecord(int port, int r) {
    const auto bytes = portfile::readRecord(path(portfile::fileName(port)), r);
    if (!bytes) {
        ADD_FAILURE() << "no record " << r << " in port file " << port;
        return {};
    }
    return *PortRecord::decode(*bytes);
}

void PagerTest::writeRecordStatus(int port, int r, int status) {
    PortRecord rec = readRecord(port, r);
    rec.status = static_cast<std::int16_t>(status);
    portfile::writeRecord(path(portfile::fileName(port)), r, rec.encode());
}

QStringList PagerTest::eventIds() const {
    QStringList out;
    for (const auto& e : events) out << e.uniqueId;
    return out;
}

}  // namespace vts::test
