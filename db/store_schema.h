// The waveform store's tables as the acquisition side lays them out, in SQL that both
// SQLite and PostgreSQL accept. Zelvik itself never creates a table; zelvik-store's
// "init" and the test fixtures do.
#pragma once

#include <string>
#include <vector>

namespace zelvik::db {

// CREATE TABLE and CREATE INDEX statements, in order, with default names.
std::vector<std::string> store_schema_statements();

}  // namespace zelvik::db
