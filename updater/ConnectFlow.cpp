#include "ConnectFlow.h"

#include "TextFile.h"

#include <QFile>
#include <QFileInfo>

namespace vts {
namespace {

const QString kTitle = QString::fromLatin1(UpdaterActions::kWarningTitle);

bool saveFile(const QString& path, const QByteArray& bytes) {
    QSaveFile f(path);
    f.setDirectWriteFallback(false);
    if (!f.open(QIODevice::WriteOnly)) return false;
    if (f.write(bytes) != bytes.size()) return false;
    return f.commit();
}

// Read permission brings execute permission with it, for owner, group and others.
void markExecutable(const QString& path) {
    QFileDevice::Permissions p = QFile::permissions(path);
    p |= QFileDevice::ExeOwner | QFileDevice::ExeUser | QFileDevice::ReadOwner |
         QFileDevice::ReadUser;
    if (p & QFileDevice::ReadGroup) p |= QFileDevice::ExeGroup;
    if (p & QFileDevice::ReadOther) p |= QFileDevice::ExeOther;
    QFile::setPermissions(path, p);
}

}  // namespace

ConnectFlow::ConnectFlow(UpdaterActions& actions, QObject* parent)
    : QObject(parent), m_actions(actions), m_fetch(actions.loop()), m_download(actions.loop()) {
    connect(&m_fetch, &VersionFileFetch::connectionOpened, this, [this] { m_busy = true; });
    connect(&m_fetch, &VersionFileFetch::finished, this, &ConnectFlow::onFetchFinished);
    connect(&m_download, &DownloadClient::header, this, &ConnectFlow::onHeader);
    connect(&m_download, &DownloadClient::transferStarted, this, &ConnectFlow::onTransferStarted);
    connect(&m_download, &DownloadClient::pieceReceived, this, &ConnectFlow::onPiece);
    connect(&m_download, &DownloadClient::transferEnded, this, &ConnectFlow::onTransferEnded);
    connect(&m_download, &DownloadClient::failed, this, &ConnectFlow::failDownload);
}

ConnectFlow::~ConnectFlow() {
    m_fetch.abort();
    m_download.abort();
}

void ConnectFlow::setTimeoutMs(int ms) {
    m_fetch.setTimeoutMs(ms);
    m_download.setTimeoutMs(ms);
}

int ConnectFlow::percent(qint64 total, qint64 length) {
    if (length <= 0 || total <= 0) return 0;
    if (total >= length) return 100;
    const qint64 scaled = total * 100;
    qint64 q = scaled / length;
    const qint64 twice = 2 * (scaled % length);
    if (twice > length || (twice == length && q % 2 == 1)) ++q;
    return static_cast<int>(q);
}

void ConnectFlow::setStatus(const QString& s) {
    if (s == m_status) return;
    m_status = s;
    emit statusChanged(s);
}

void ConnectFlow::setProgress(int p) {
    if (p == m_progress) return;
    m_progress = p;
    emit progressChanged(p);
}

void ConnectFlow::getUpdate() {
    if (m_busy || m_running || m_actions.ending()) return;
    m_running = true;
    m_copyVersionFile = false;
    m_contentLength = 0;
    m_received = 0;
    setProgress(0);
    setStatus(QString::fromLatin1(kUpdating));
    const ProgramFolder& folder = m_actions.folder();
    if (!folder.ensureDownloadFolder()) {
        m_actions.warnUnwritten({folder.downloadFolder()});
        endOperation();
        return;
    }
    m_fetch.fetch(m_actions.server(), QString::fromLatin1(kVersionPath));
}

void ConnectFlow::cancel() {
    // On the way out (VT.EXE started) the window just closes.
    if (m_actions.ending()) return;
    m_fetch.abort();
    m_download.abort();
    m_target.reset();  // an uncommitted save file takes its temporary file with it
    m_busy = false;
    m_running = false;
    setProgress(0);
    setStatus(QString());
    m_actions.decline();
}

void ConnectFlow::onFetchFinished(bool ok) {
    const ProgramFolder& folder = m_actions.folder();
    if (!ok) {
        m_lastError = m_fetch.error();
        m_actions.dialogs().show(QString::fromLatin1(kNotConnected), kTitle,
                                 Dialogs::Icon::Exclamation, Dialogs::Buttons::Ok);
        endOperation();
        return;
    }
    const QString remote = folder.downloadedVersionFile();
    if (!saveFile(remote, m_fetch.body())) {
        m_actions.warnUnwritten({remote});
        endOperation();
        return;
    }
    const QString local = folder.localVersionFile();
    if (QFileInfo(local).isFile()) {
        const auto localLine = text::readFirstLine(local);
        const auto remoteLine = text::readFirstLine(remote);
        if (localLine && remoteLine) {
            if (*localLine == *remoteLine) {
                // The fetch is over: nothing is busy any more, so the window
                // can close on the way out.
                m_busy = false;
                m_running = false;
                setStatus(QString());
                m_actions.dialogs().show(QString::fromLatin1(kLatest), kTitle,
                                         Dialogs::Icon::Information, Dialogs::Buttons::Ok);
                m_actions.startClientAndQuit();
                return;
            }
            m_copyVersionFile = true;
        }
    }
    m_targetPath = folder.clientProgram();
    m_download.download(m_actions.server(), QString::fromLatin1(kProgramPath));
}

void ConnectFlow::onHeader(const QString& name, const QString& value) {
    if (name.toUpper() != QLatin1String("CONTENT-LENGTH")) return;
    bool ok = false;
    const qint64 n = value.trimmed().toLongLong(&ok);
    m_contentLength = ok && n > 0 ? n : 0;
}

void ConnectFlow::onTransferStarted() {
    m_busy = true;
    setStatus(QString());
    m_received = 0;
    m_target = std::make_unique<QSaveFile>(m_targetPath);
    m_target->setDirectWriteFallback(false);
    if (!m_target->open(QIODevice::WriteOnly))
        failDownload(
            QStringLiteral("cannot write %1: %2").arg(m_targetPath, m_target->errorString()));
}

void ConnectFlow::onPiece(const QByteArray& piece, qint64 total) {
    if (!m_target) return;
    if (m_target->write(piece) != piece.size()) {
        failDownload(
            QStringLiteral("cannot write %1: %2").arg(m_targetPath, m_target->errorString()));
        return;
    }
    m_received = total;
    setProgress(percent(total, m_contentLength));
}

void ConnectFlow::onTransferEnded() {
    m_busy = false;
    if (!m_target) {
        failDownload(QStringLiteral("no body received"));
        return;
    }
    if (m_contentLength > 0 && m_received != m_contentLength) {
        failDownload(
            QStringLiteral("received %1 of %2 bytes").arg(m_received).arg(m_contentLength));
        return;
    }
    if (!m_target->commit()) {
        const QString why = m_target->errorString();
        m_target.reset();
        failDownload(QStringLiteral("cannot replace %1: %2").arg(m_targetPath, why));
        return;
    }
    m_target.reset();
    markExecutable(m_targetPath);

    const ProgramFolder& folder = m_actions.folder();
    QStringList unwritten;
    if (m_copyVersionFile) {
        const auto lines = text::readLines(folder.downloadedVersionFile());
        if (!lines || !text::writeLines(folder.localVersionFile(), *lines))
            unwritten << folder.localVersionFile();
    }
    if (!folder.writeUpdated(m_actions.loop().now())) unwritten << folder.updatedFile();
    m_actions.warnUnwritten(unwritten);
    m_running = false;
    m_actions.startClientAndQuit();
}

void ConnectFlow::failDownload(const QString& why) {
    m_download.abort();
    m_target.reset();  // an uncommitted save file takes its temporary file with it
    m_lastError = why;
    m_busy = false;
    setProgress(0);
    m_actions.dialogs().show(QString::fromLatin1(kDownloadFailed), kTitle,
                             Dialogs::Icon::Exclamation, Dialogs::Buttons::Ok);
    endOperation();
}

void ConnectFlow::endOperation() {
    m_running = false;
    m_busy = false;
    setStatus(QString());
    emit operationEnded();
}

}  // namespace vts
