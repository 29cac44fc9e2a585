#pragma once

#include <QByteArray>
#include <QDir>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace vts::test {

// Each test runs in a fresh temporary working directory, removed afterwards,
// so tests never see each other's files and `ctest -j` is safe.
class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_previous = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(m_dir.path()));
    }
    void TearDown() override { QDir::setCurrent(m_previous); }

    QString dir() const { return m_dir.path(); }
    QString path(const QString& name) const { return m_dir.filePath(name); }
    // Writes bytes to a file under the directory (folders created).
    void writeFile(const QString& name, const QByteArray& bytes) const;
    QByteArray readFile(const QString& name) const;

private:
    QTemporaryDir m_dir;
    QString m_previous;
};

// The folder holding the built programs (calvex, pagesim, vtsinit, ...).
QString binDir();

}  // namespace vts::test
