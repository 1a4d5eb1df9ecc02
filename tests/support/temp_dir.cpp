#include "support/temp_dir.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

namespace melofon::test {

TempDir::TempDir() { EXPECT_TRUE(dir_.isValid()); }

void TempDir::write(const QString& name, const QByteArray& bytes) const {
    QFile f(file(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

QByteArray TempDir::read(const QString& name) const {
    QFile f(file(name));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

QByteArray runProgram(const QString& program, const QStringList& arguments) {
    QProcess p;
    p.start(program, arguments);
    const bool finished = p.waitForFinished(60000);
    EXPECT_TRUE(finished) << program.toStdString() << " did not finish";
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0) << program.toStdString() << ": "
                               << p.readAllStandardError().toStdString();
    return p.readAllStandardOutput();
}

} // namespace melofon::test
