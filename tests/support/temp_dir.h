#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace melofon::test {

// A scratch directory removed at the end of the test.
class TempDir {
public:
    TempDir();
    QString path() const { return dir_.path(); }
    QString file(const QString& name) const { return dir_.filePath(name); }
    void write(const QString& name, const QByteArray& bytes) const;
    QByteArray read(const QString& name) const;

private:
    QTemporaryDir dir_;
};

// Runs a program and returns its standard output; fails the test when it exits non-zero.
QByteArray runProgram(const QString& program, const QStringList& arguments);

} // namespace melofon::test
