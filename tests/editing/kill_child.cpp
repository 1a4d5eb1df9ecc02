// Gives the editing commands of kill_steps.h one after another until it is killed,
// saying on standard output "r" once the tables are open, "b N" before step N and "e N"
// once it returned.
// command_kill_test.cpp starts it and kills it at random instants.

#include "kill_steps.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {
void say(char what, int step) {
    char line[32];
    const int n = std::snprintf(line, sizeof line, "%c %d\n", what, step);
    if (::write(STDOUT_FILENO, line, std::size_t(n)) != n)
        std::_Exit(3);
}
} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    try {
        melofon::store::PlaylistStore store(QString::fromLocal8Bit(argv[1]));
        melofon::test::KillEditing editing(store);
        if (::write(STDOUT_FILENO, "r\n", 2) != 2) // open: the test times its kill from here
            return 3;
        for (int step = 0;; ++step) {
            say('b', step);
            editing.run(step);
            say('e', step);
        }
    } catch (const melofon::store::StoreError& e) {
        std::fprintf(stderr, "kill_child: %s\n", e.what());
        return 1;
    }
}
