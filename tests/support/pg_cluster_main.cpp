// zelvik_pg_cluster start|stop FILE: runs the PostgreSQL cluster that every test process
// of one ctest run shares (ctest fixture); FILE tells the tests where it is.
#include <cstdio>
#include <string>

#include "tests/support/store_fixture.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: zelvik_pg_cluster start|stop FILE\n");
        return 2;
    }
    const std::string command = argv[1];
    if (command == "stop") return zelvik::test::PostgresServer::stop_detached(argv[2]) ? 0 : 1;
    std::string reason;
    const bool ok = zelvik::test::PostgresServer::start_detached(argv[2], reason);
    if (!reason.empty()) std::printf("%s\n", reason.c_str());
    return ok ? 0 : 1;
}
