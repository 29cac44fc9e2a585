#include "StatusListModel.h"

#include "Conversions.h"
#include "EventLoop.h"

namespace vts {

namespace {
constexpr int kStampLength = 22;  // "MM/DD/YYYY HH:NN:SS - "
}

StatusListModel::StatusListModel(EventLoop& loop, QObject* parent)
    : QAbstractListModel(parent), m_loop(loop) {}

void StatusListModel::AddStatus(const QString& text) {
    if (m_lines.size() >= kMaxLines) {
        beginRemoveRows({}, 0, 0);
        m_lines.removeFirst();
        endRemoveRows();
    }
    const QString line = conv::formatDateTime(m_loop.now()) + QStringLiteral(" - ") + text;
    const int row = static_cast<int>(m_lines.size());
    beginInsertRows({}, row, row);
    m_lines.append(line);
    endInsertRows();
    if (m_echo) {
        m_echo(line);
    }
    emit lineAdded(row);
}

void StatusListModel::clear() {
    beginResetModel();
    m_lines.clear();
    endResetModel();
}

QStringList StatusListModel::texts() const {
    QStringList out;
    out.reserve(m_lines.size());
    for (const QString& l : m_lines) {
        out << l.mid(kStampLength);
    }
    return out;
}

int StatusListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_lines.size());
}

bool StatusListModel::isFailure(const QString& text) {
    return text.startsWith(QLatin1String("Error")) ||
           text.startsWith(QLatin1String("Message failed"));
}

QVariant StatusListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_lines.size()) {
        return {};
    }
    const QString& line = m_lines.at(index.row());
    switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole:
            return line;
        case FailureRole:
            return isFailure(line.mid(kStampLength));
        default:
            return {};
    }
}

}  // namespace vts
