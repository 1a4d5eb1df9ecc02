#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>

namespace melofon::test {

// A file system whose files never answer, as a network share that went away: stat and open
// on its files block. Needs FUSE and the right to mount; absent() says why not.
class DeadShare {
public:
    // MELOFON_DEAD_SHARE names the script that mounts it.
    DeadShare() {
        const QString tool = QStringLiteral(MELOFON_DEAD_SHARE);
        if (tool.isEmpty() || !QFile::exists(tool) || !QFile::exists(QStringLiteral("/dev/fuse"))) {
            why_ = "no FUSE here";
            return;
        }
        mount_ = QDir::tempPath() + QStringLiteral("/melofon-hung-%1").arg(QCoreApplication::applicationPid());
        QDir().mkpath(mount_);
        daemon_.start(QStringLiteral("/usr/bin/python3"), {tool, mount_, QStringLiteral("muerta.wav")});
        for (int i = 0; i < 50 && !mounted(); ++i)
            QThread::msleep(100);
        if (!mounted())
            why_ = "the dead share could not be mounted";
    }
    ~DeadShare() {
        if (mount_.isEmpty())
            return;
        // Takes it away: what still waits on it is let go with an error.
        QProcess::execute(QStringLiteral("fusermount3"), {QStringLiteral("-u"), QStringLiteral("-z"), mount_});
        daemon_.kill();
        daemon_.waitForFinished(2000);
        QDir().rmdir(mount_);
    }
    const char* absent() const { return why_; }
    QString file() const { return mount_ + QStringLiteral("/muerta.wav"); }

private:
    bool mounted() const {
        return QProcess::execute(QStringLiteral("mountpoint"), {QStringLiteral("-q"), mount_}) == 0;
    }
    QString mount_;
    QProcess daemon_;
    const char* why_ = nullptr;
};

} // namespace melofon::test
