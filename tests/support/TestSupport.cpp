#include "TestSupport.h"

#include <QFile>
#include <QFileInfo>

namespace vts::test {

void TempDirTest::writeFile(const QString& name, const QByteArray& bytes) const {
    const QString p = path(name);
    QDir().mkpath(QFileInfo(p).absolutePath());
    QFile f(p);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << p.toStdString();
    f.write(bytes);
}

QByteArray TempDirTest::readFile(const QString& name) const {
    QFile f(path(name));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

QString binDir() { return QStringLiteral(VTS_BIN_DIR); }

}  // namespace vts::test
