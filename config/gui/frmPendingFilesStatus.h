#pragma once

#include "ConfigContext.h"

#include <QDialog>

#include <array>

class QLabel;

// "Pending Files Status": a snapshot of the queue folders, computed once
// when the window is created from the queue location given to it.
class frmPendingFilesStatus : public QDialog {
    Q_OBJECT
public:
    frmPendingFilesStatus(const vts::ConfigContext& context, const QString& queueFolder,
                          QWidget* parent = nullptr);
    // Label1 .. Label6 as index 1 .. 6.
    QLabel* label(int index) const { return m_labels.at(static_cast<size_t>(index - 1)); }

private:
    std::array<QLabel*, 6> m_labels{};
};
