#pragma once

#include "DownloadClient.h"
#include "UpdaterActions.h"
#include "VersionFileFetch.h"

#include <QObject>
#include <QSaveFile>

#include <memory>
#include <optional>

namespace vts {

// The connect window's logic: fetches the server's version file, compares
// its first line with the local one, and downloads the new client program
// when they differ. The download goes into a temporary file beside VT.EXE
// and replaces VT.EXE in one rename only when it arrived whole; only then
// are FILEINFO.TXT and UPDATED.TXT written. Any failure leaves VT.EXE and
// FILEINFO.TXT as they were, warns, and ends the operation (the window then
// closes). The busy flag is set from the fetch's open connection until a
// transfer ends; while it is set Update does nothing. Cancel acts at any
// time: it drops the connection (a stalled server cannot hold it), removes
// the partly written download and declines.
class ConnectFlow : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kVersionPath = "/zupdate/fileinfo.txt";
    static constexpr const char* kProgramPath = "/zupdate/vtupdate.exe";
    static constexpr const char* kUpdating = " Updating...please wait.";
    static constexpr const char* kNotConnected =
        "You are not connected to your ISP or your ISP's\n"
        "server is busy. Please connect to your ISP or try\n"
        "again later.";
    static constexpr const char* kLatest = "You already have the latest version of Vantrel.";
    static constexpr const char* kDownloadFailed =
        "The new version of Vantrel could not be downloaded.\n"
        "Your copy of Vantrel has not been changed.\n"
        "Please try again later.";

    explicit ConnectFlow(UpdaterActions& actions, QObject* parent = nullptr);
    ~ConnectFlow() override;

    bool busy() const { return m_busy; }
    // True from Update until the operation ends (fetch or download running).
    bool running() const { return m_running; }
    const QString& status() const { return m_status; }
    int progress() const { return m_progress; }
    qint64 contentLength() const { return m_contentLength; }
    qint64 received() const { return m_received; }
    // Why the last fetch or download failed (for the curious and for tests).
    const QString& lastError() const { return m_lastError; }

    // btnGetUpdate: does nothing while busy or already running.
    void getUpdate();
    // btnCancel: stops what runs, fetch or download, discards a partial
    // download and declines (UPDATED.TXT, then the instructions window);
    // the window then closes.
    void cancel();

    void setTimeoutMs(int ms);

    // running total / length * 100, to the nearest whole number, a half to
    // the even neighbour; 0 when the length is unknown.
    static int percent(qint64 total, qint64 length);

signals:
    void statusChanged(const QString& text);
    void progressChanged(int percent);
    // The operation ended without quitting (a failure): the window closes.
    void operationEnded();

private:
    void setStatus(const QString& s);
    void setProgress(int p);
    void onFetchFinished(bool ok);
    void onHeader(const QString& name, const QString& value);
    void onTransferStarted();
    void onPiece(const QByteArray& piece, qint64 total);
    void onTransferEnded();
    void failDownload(const QString& why);
    void endOperation();

    UpdaterActions& m_actions;
    VersionFileFetch m_fetch;
    DownloadClient m_download;
    std::unique_ptr<QSaveFile> m_target;
    QString m_targetPath;
    QString m_lastError;
    bool m_busy = false;
    bool m_running = false;
    bool m_copyVersionFile = false;
    qint64 m_contentLength = 0;
    qint64 m_received = 0;
    int m_progress = 0;
    QString m_status;
};

}  // namespace vts
