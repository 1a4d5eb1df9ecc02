#pragma once

// Starting a child that writes the tables and killing it at an instant the test draws.
// A child says "r" on a line of its own once its tables are open. A start takes far
// longer on a slow or busy machine (under the sanitizers, on a loaded disk), so a kill
// timed from the spawn alone lands there every time: most kills are timed from "r", and
// the rest from the spawn, within the time the last start took, to catch a start itself.

#include <QByteArray>
#include <QtGlobal>
#include <QFile>
#include <QString>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <chrono>
#include <optional>
#include <random>
#include <thread>

extern char** environ;

namespace melofon::test {

struct Killed {
    QByteArray said;                    // its standard output
    std::chrono::microseconds start{0}; // from the spawn to "r"; 0 when killed before it
};

// Runs `program dir` and kills it `delay` after its "r" (or after the spawn when
// `fromStart`). Nothing, with `why`, when it did not die of the kill.
inline std::optional<Killed> runAndKill(const QByteArray& program, const QString& dir,
                                        std::chrono::microseconds delay, bool fromStart, QString* why) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        *why = QStringLiteral("pipe");
        return std::nullopt;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    const QByteArray directory = QFile::encodeName(dir);
    char* argv[] = {const_cast<char*>(program.constData()), const_cast<char*>(directory.constData()), nullptr};
    pid_t pid = 0;
    const auto spawned = std::chrono::steady_clock::now();
    const int err = posix_spawn(&pid, program.constData(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (err) {
        ::close(out[0]);
        *why = QStringLiteral("posix_spawn: %1").arg(err);
        return std::nullopt;
    }
    Killed killed;
    char buffer[4096];
    if (!fromStart) {
        // Until "r", or the child's end, or a minute.
        pollfd p{out[0], POLLIN, 0};
        while (!killed.said.startsWith("r\n") && ::poll(&p, 1, 60000) > 0) {
            const ssize_t n = ::read(out[0], buffer, sizeof buffer);
            if (n <= 0)
                break;
            killed.said.append(buffer, qsizetype(n));
        }
        killed.start = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - spawned);
    }
    std::this_thread::sleep_for(delay);
    ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
        killed.said.append(buffer, qsizetype(n));
    ::close(out[0]);
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
        return killed;
    *why = WIFEXITED(status) ? QStringLiteral("the child exited with %1").arg(WEXITSTATUS(status))
                             : QStringLiteral("the child ended with status %1").arg(status);
    return std::nullopt;
}

// Kills one child after another at instants drawn from a seed it prints (MELOFON_KILL_SEED
// repeats it): three in four after the child's "r", up to `longest` later; one in four
// within the time the last start took.
class KillClock {
public:
    KillClock(const char* test, int shortestMicroseconds, int longestMicroseconds)
        : seed_(qEnvironmentVariableIsSet("MELOFON_KILL_SEED") ? unsigned(qEnvironmentVariableIntValue("MELOFON_KILL_SEED"))
                                                               : std::random_device{}()),
          random_(seed_), afterStart_(shortestMicroseconds, longestMicroseconds) {
        std::printf("%s seed %u (set MELOFON_KILL_SEED to repeat)\n", test, seed_);
    }
    unsigned seed() const { return seed_; }

    std::optional<Killed> runAndKill(const QByteArray& program, const QString& dir, QString* why) {
        const bool inStart = random_() % 4 == 0;
        const auto delay = std::chrono::microseconds(inStart ? random_() % (lastStart_.count() + 1) : afterStart_(random_));
        auto killed = test::runAndKill(program, dir, delay, inStart, why);
        if (killed && killed->said.startsWith("r\n"))
            lastStart_ = killed->start;
        return killed;
    }

private:
    unsigned seed_;
    std::mt19937 random_;
    std::uniform_int_distribution<int> afterStart_;
    std::chrono::microseconds lastStart_{20000};
};

} // namespace melofon::test
