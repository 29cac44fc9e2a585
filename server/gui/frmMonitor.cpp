#include "frmMonitor.h"

#include "FormScale.h"
#include "MonitorCore.h"
#include "StatusListModel.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QIcon>
#include <QIdentityProxyModel>
#include <QListView>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QResizeEvent>
#include <QSystemTrayIcon>

#include <algorithm>
#include <array>

namespace vts {

namespace {

QRect twips(int left, int top, int width, int height) {
    const int k = frmMonitor::kTwipsPerPixel;
    return {left / k, top / k, width / k, height / k};
}

// The four buttons show their captions in one font: the window's, or where
// a caption would not fit its button (the form was drawn for a narrower
// font), the largest smaller size at which all four fit. The margin is the
// button's frame and padding on both sides.
void fitCaptions(const std::array<QPushButton*, 4>& buttons) {
    constexpr int kMargin = 12;
    constexpr qreal kSmallest = 6.0;
    QFont font = buttons[0]->font();
    if (font.pointSizeF() <= 0) return;
    const auto fits = [&](const QFont& f) {
        return std::all_of(buttons.begin(), buttons.end(), [&](QPushButton* b) {
            return QFontMetrics(f).horizontalAdvance(b->text()) + kMargin <= b->width();
        });
    };
    while (!fits(font) && font.pointSizeF() - 0.25 >= kSmallest)
        font.setPointSizeF(font.pointSizeF() - 0.25);
    for (QPushButton* b : buttons)
        if (font != b->font()) b->setFont(font);
}

// Shows the lines the status list marks as failures in red.
class FailureColours final : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;
    QVariant data(const QModelIndex& index, int role) const override {
        if (role == Qt::ForegroundRole &&
            QIdentityProxyModel::data(index, StatusListModel::FailureRole).toBool()) {
            return QColor(Qt::red);
        }
        return QIdentityProxyModel::data(index, role);
    }
};

}  // namespace

QIcon serverIcon() {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(0, 90, 160));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(2, 6, 28, 20, 4, 4);
    p.setBrush(QColor(180, 230, 140));
    p.drawRect(6, 10, 20, 8);
    return QIcon(pm);
}

frmMonitor::frmMonitor(MonitorCore& core, QWidget* parent) : QWidget(parent), m_core(core) {
    setWindowTitle(QStringLiteral("Vantrel Server Monitor"));
    setWindowIcon(serverIcon());
    m_clear = new QPushButton(QStringLiteral("Clear Events"), this);
    m_clear->setObjectName(QStringLiteral("ClearEvents_c"));
    m_clear->setGeometry(twips(120, 150, 1470, 315));
    m_cancelAlert = new QPushButton(QStringLiteral("Cancel Alert"), this);
    m_cancelAlert->setObjectName(QStringLiteral("Command1"));
    m_cancelAlert->setGeometry(twips(1590, 150, 1470, 315));
    m_configure = new QPushButton(QStringLiteral("Setup / Reports"), this);
    m_configure->setObjectName(QStringLiteral("Configure_c"));
    m_configure->setGeometry(twips(3060, 150, 1470, 315));
    m_shutdown = new QPushButton(QStringLiteral("Shut Down"), this);
    m_shutdown->setObjectName(QStringLiteral("Shutdown_c"));
    m_shutdown->setGeometry(twips(4530, 150, 1470, 315));

    m_status = new QListView(this);
    m_status->setObjectName(QStringLiteral("Status_c"));
    m_status->setGeometry(twips(60, 540, 8580, 4350));
    auto* colours = new FailureColours(this);
    colours->setSourceModel(&m_core.status());
    m_status->setModel(colours);
    m_status->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_status->setSelectionMode(QAbstractItemView::SingleSelection);
    m_status->setUniformItemSizes(true);
    connect(&m_core.status(), &StatusListModel::lineAdded, this, [this](int row) {
        const QModelIndex last = m_status->model()->index(row, 0);
        m_status->setCurrentIndex(last);
        m_status->scrollTo(last);
    });

    // Opens at the form's size, which is also the smallest; a larger window
    // gives the status list the room, with the same margins.
    const QSize usual(8580 / kTwipsPerPixel + 8, (540 + 4350) / kTwipsPerPixel + 6);
    setMinimumSize(usual);
    resize(usual);
    form::scaleToFont(this);
    fitCaptions({m_clear, m_cancelAlert, m_configure, m_shutdown});
    m_listMargins =
        QSize(width() - m_status->geometry().right(), height() - m_status->geometry().bottom());

    connect(m_clear, &QPushButton::clicked, this, [this] { m_core.ClearEvents_c_Click(); });
    connect(m_cancelAlert, &QPushButton::clicked, this, [this] { m_core.Command1_Click(); });
    connect(m_configure, &QPushButton::clicked, this, [this] { m_core.Configure_c_Click(); });
    connect(m_shutdown, &QPushButton::clicked, this, [this] { m_core.Shutdown_c_Click(); });

    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_tray = new QSystemTrayIcon(serverIcon(), this);
        connect(m_tray, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason r) {
                    if (r == QSystemTrayIcon::DoubleClick) {
                        cSysTray1_MouseDblClick();
                    }
                });
        m_tray->show();
    }
}

void frmMonitor::cSysTray1_MouseDblClick() {
    setWindowState(windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
    showNormal();
    raise();
    activateWindow();
}

void frmMonitor::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (!m_listMargins.isValid()) return;  // still being built
    const QRect list = m_status->geometry();
    m_status->setGeometry(list.left(), list.top(),
                          width() - m_listMargins.width() - list.left() + 1,
                          height() - m_listMargins.height() - list.top() + 1);
}

void frmMonitor::closeEvent(QCloseEvent* event) {
    if (m_core.Form_Unload(true)) {
        if (m_tray) {
            m_tray->hide();
        }
        event->accept();
    } else {
        event->ignore();
    }
}

}  // namespace vts
