#include "ReportsPageController.h"

#include "frmPurgeDatabase.h"
#include "frmSelectSender.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QScreen>

namespace vts::report {

ReportsPageController::ReportsPageController(ReportsPageControls controls, QString dir,
                                             Dialogs& dialogs)
    : m_c(controls),
      m_dir(std::move(dir)),
      m_dialogs(dialogs),
      m_engine(m_dir),
      m_host(controls.window),
      m_logic(m_engine, dialogs),
      m_sender(std::make_unique<frmSelectSender>(m_dir, dialogs, controls.window)),
      m_department(std::make_unique<frmSelectDepartment>(m_dir, dialogs, controls.Department_c,
                                                         controls.window)) {
    m_engine.setWindowTitle(kReportWindowTitle);
    m_engine.setHost(&m_host);
    m_engine.setEventLoop(&m_loop);
    m_host.setEventLoop(&m_loop);
    m_logic.setPrinterChooser([this] { return m_host.choosePrinter(); });
    m_sender->setReportsTarget(controls.Sender_c);
    // The pickers show dates as the description gives them.
    for (QDateEdit* d : {controls.From_c, controls.To_c}) {
        if (d) {
            d->setDisplayFormat(kCriteriaDateFormat);
        }
    }
}

ReportsPageController::~ReportsPageController() = default;

ReportsPageState ReportsPageController::state() const {
    ReportsPageState s;
    s.reportListIndex = m_c.ReportList_c ? m_c.ReportList_c->currentRow() : -1;
    s.reportTypeIndex = m_c.cboReportType ? m_c.cboReportType->currentIndex() : -1;
    s.sortIndex = m_c.SortBy_c ? m_c.SortBy_c->currentIndex() : -1;
    auto& c = s.criteria;
    c.selectDate = m_c.SelectDate_c && m_c.SelectDate_c->isChecked();
    if (m_c.From_c) {
        c.from = m_c.From_c->date();
    }
    if (m_c.To_c) {
        c.to = m_c.To_c->date();
    }
    if (m_c.Status_c) {
        c.statusIndex = std::max(0, m_c.Status_c->currentIndex());
        c.statusText = m_c.Status_c->currentText();
    }
    if (m_c.Sender_c) {
        c.sender = m_c.Sender_c->text();
    }
    if (m_c.Department_c) {
        c.department = m_c.Department_c->text();
    }
    return s;
}

void ReportsPageController::print_c_Click(int index) {
    // A click while a long report is still being written waits its turn.
    if (m_engine.isRunning()) {
        return;
    }
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        m_logic.setScreenSize(screen->size());
    }
    m_logic.printClick(index, state());
}

void ReportsPageController::SelectSender_c_Click() {
    m_sender->setTag(QStringLiteral("FROMREPORTS"));
    m_sender->exec();
}

void ReportsPageController::cmdSelectDepartment_Click() { m_department->exec(); }

void ReportsPageController::PurgeDatabase_c_Click() {
    frmPurgeDatabase dialog(m_dir, m_dialogs, m_sender.get(), m_c.window);
    dialog.exec();
}

}  // namespace vts::report
