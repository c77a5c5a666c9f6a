// Parameterised fixture: each case runs on a SQLite store file and on a PostgreSQL
// database (skipped, with the reason, only when the server binaries are missing).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "db/wave_store.h"
#include "tests/support/store_fixture.h"

namespace zelvik::db {

class StoreTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override { make(true); }

    // (Re)creates the test store; `schema` false leaves it empty for custom tables.
    void make(bool schema) {
        std::string reason;
        store_ = test::make_test_store(GetParam(), reason, schema);
        if (!store_) GTEST_SKIP() << reason;
    }
    bool connect(bool use_tend = false) {
        store_->configure(ws_, use_tend);
        const bool ok = ws_.connect();
        if (!ok) ADD_FAILURE() << ws_.last_error();
        return ok;
    }

    std::unique_ptr<test::TestStore> store_;
    WaveStore ws_;
};

inline std::string store_test_name(const ::testing::TestParamInfo<std::string>& info) {
    return info.param;
}

}  // namespace zelvik::db
