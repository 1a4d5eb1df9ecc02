// Appends DOCUMENT rows (and deletes some) until it is killed; kill_test.cpp starts it
// and kills it at random instants.
//
// Every row is committed as the program commits it: the record and its end mark, a
// sync, then the header's count and a sync. A kill (unlike a power cut) leaves the page
// cache to the next process, so what it can tear depends on the order of those calls.

// Between rows it spins for a while without a syscall: the tables (and the snapshots the
// test keeps of them) stay about half as big, and a kill still lands inside an append
// often enough to leave an uncommitted or half-written record now and then.

#include "kill_rows.h"

#include "store/playlist_store.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>

using melofon::store::PlaylistStore;
using melofon::store::StoreError;
namespace test = melofon::test;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    try {
        PlaylistStore store(QString::fromLocal8Bit(argv[1]));
        if (::write(STDOUT_FILENO, "r\n", 2) != 2) // open: the test times its kill from here
            return 3;
        auto& documents = store.dtcDocumentos();
        auto& table = documents.table();
        auto& rows = documents.recordset();

        // Go on from the last row, deleted or not, so that ids never repeat.
        qint64 id = 0;
        if (table.rowCount() > 0)
            id = table.value(table.rowCount() - 1, table.fieldIndex("DOCID")).toLongLong();

        for (;;) {
            const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(10);
            while (std::chrono::steady_clock::now() < until) {
            }
            ++id;
            rows.AddNew();
            rows.Fields("DOCID") = id;
            rows.Fields("DOCPATH") = test::killRowPath(id);
            rows.Update();
            if (test::killRowDeletesAnother(id)) {
                documents.Refresh(); // our own appends become visible to FindFirst
                if (rows.FindFirst("DOCID", qint32(test::killRowDeletedBy(id))))
                    rows.Delete();
            }
        }
    } catch (const StoreError& e) {
        std::fprintf(stderr, "kill_child: %s\n", e.what());
        return 1;
    }
}
