#pragma once

#include <QWidget>

namespace vts {

// The shut-down notice, shown for its two seconds while the server ends.
class frmShutdown final : public QWidget {
    Q_OBJECT
public:
    static inline const QString kText = QStringLiteral("Shutting Down Vantrel Server...");
    explicit frmShutdown(QWidget* parent = nullptr);
};

}  // namespace vts
