// Keeps a shell test away from this machine's own configuration: a private, empty
// ODBC configuration (no data source of the machine is reached) and qsx.ini looked
// for only in the test's directory.
#pragma once

#include <cstdlib>

#include "tests/support/temp_dir.h"

namespace zelvik::shell {

inline void isolate_from_machine(const test::TempDir& dir) {
    dir.write("odbc.ini", "");
    dir.write("odbcinst.ini", "");
    ::setenv("ODBCINI", dir.file("odbc.ini").c_str(), 1);
    ::setenv("ODBCSYSINI", dir.path().c_str(), 1);
    ::setenv("WINDIR", dir.path().c_str(), 1);
    ::unsetenv("QSX");
}

}  // namespace zelvik::shell
