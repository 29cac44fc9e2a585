#include "frmBrowseForQueue.h"

#include "FormScale.h"

#include "Dialogs.h"
#include "FormHelpers.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QListWidget>
#include <QSignalBlocker>

using namespace vts::form;

frmBrowseForQueue::frmBrowseForQueue(const vts::ConfigContext& context, QWidget* parent)
    : QDialog(parent), m_ctx(context), m_browser(QDir::currentPath()) {
    setObjectName(QStringLiteral("frmBrowseForQueue"));
    setWindowTitle(QStringLiteral("Message Queue Location"));
    setFixedSize(380, 330);

    m_Filename = label(this, QString(), 12, 10, 356, 22, QStringLiteral("Filename"));
    m_Filename->setFrameShape(QFrame::StyledPanel);
    label(this, QStringLiteral("Directory:"), 12, 40, 200);
    m_Dir1 = make<QListWidget>(this, QStringLiteral("Dir1"), 12, 60, 250, 220);
    label(this, QStringLiteral("Drives:"), 12, 288, 60);
    m_Drive1 = make<QComboBox>(this, QStringLiteral("Drive1"), 70, 286, 192, 26);
    auto* ok = button(this, QStringLiteral("Command2"), QStringLiteral("OK"), 275, 60, 92);
    auto* cancel = button(this, QStringLiteral("Command1"), QStringLiteral("Cancel"), 275, 94, 92);
    ok->setDefault(true);

    m_drives = vts::FolderBrowser::drives();
    m_Drive1->addItems(m_drives);
    selectDriveOfPath();
    fillFolders();
    m_Filename->setText(m_browser.path());

    connect(m_Drive1, &QComboBox::currentIndexChanged, this, &frmBrowseForQueue::Drive1_Change);
    connect(m_Dir1, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { openFolder(item->data(Qt::UserRole).toString()); });
    connect(ok, &QPushButton::clicked, this, &frmBrowseForQueue::Command2_Click);
    connect(cancel, &QPushButton::clicked, this, &frmBrowseForQueue::Command1_Click);
    vts::form::scaleToFont(this);
}

QString frmBrowseForQueue::result() const { return m_Filename->text(); }

void frmBrowseForQueue::selectDriveOfPath() {
    const QSignalBlocker block(m_Drive1);
    m_Drive1->setCurrentIndex(static_cast<int>(
        m_drives.indexOf(vts::FolderBrowser::driveOf(m_browser.path(), m_drives))));
}

void frmBrowseForQueue::fillFolders() {
    m_Dir1->clear();
    int depth = 0;
    for (const QString& p : m_browser.ancestors()) {
        const QString name = p == QDir::rootPath() ? p : QFileInfo(p).fileName();
        auto* item = new QListWidgetItem(QString(depth * 2, QLatin1Char(' ')) + name, m_Dir1);
        item->setData(Qt::UserRole, p);
        ++depth;
    }
    m_Dir1->setCurrentRow(m_Dir1->count() - 1);
    const QString base = m_browser.path();
    for (const QString& sub : m_browser.subfolders()) {
        auto* item = new QListWidgetItem(QString(depth * 2, QLatin1Char(' ')) + sub, m_Dir1);
        item->setData(Qt::UserRole, QDir(base).filePath(sub));
    }
}

void frmBrowseForQueue::Dir1_Change() {
    fillFolders();
    m_Filename->setText(m_browser.path());
}

bool frmBrowseForQueue::openFolder(const QString& path) {
    QString error;
    if (!m_browser.setPath(path, &error)) {
        m_ctx.dialogs->message(error, QString(), vts::Dialogs::Icon::Critical);
        return false;
    }
    selectDriveOfPath();
    Dir1_Change();
    return true;
}

void frmBrowseForQueue::Drive1_Change(int index) {
    if (index < 0 || index >= m_drives.size()) return;
    QString error;
    if (m_browser.setPath(m_drives.at(index), &error)) {
        fillFolders();
    } else {
        selectDriveOfPath();
        m_ctx.dialogs->message(error, QString(), vts::Dialogs::Icon::Critical);
    }
    m_Filename->setText(m_browser.path());
}

void frmBrowseForQueue::Command2_Click() { accept(); }

void frmBrowseForQueue::Command1_Click() { reject(); }

void frmBrowseForQueue::reject() {
    m_Filename->setText(QString());
    QDialog::reject();
}
