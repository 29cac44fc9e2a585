#pragma once

#include "Database.h"

namespace vts::db {

// One row being added or edited in a record set. The row is stored only by
// commit(); leaving the scope without it (an exception on the way, an early
// return) abandons the row, so a failed edit never leaves the record set
// half-way through an add or edit, and the exception still propagates.
class RowEdit final {
public:
    enum class Mode { Add, Edit };

    RowEdit(Recordset& rs, Mode mode) : m_rs(rs) {
        if (mode == Mode::Add)
            rs.addNew();
        else
            rs.edit();
    }
    ~RowEdit() {
        if (m_done) return;
        try {
            m_rs.cancelUpdate();
        } catch (...) {
            // Abandoning failed as well; the error that ended the edit is
            // the one the caller sees.
        }
    }
    RowEdit(const RowEdit&) = delete;
    RowEdit& operator=(const RowEdit&) = delete;

    void set(const QString& field, const QVariant& value) { m_rs.setValue(field, value); }
    // Stores the row; when that fails the row is abandoned and DbError
    // propagates.
    void commit() {
        m_rs.update();
        m_done = true;
    }

private:
    Recordset& m_rs;
    bool m_done = false;
};

}  // namespace vts::db
