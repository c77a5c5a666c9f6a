// Real waveform stores for tests: a SQLite store file or a database on a throw-away
// PostgreSQL cluster, each reached through a data source in a private odbc.ini (the
// process's ODBCINI/ODBCSYSINI point at it; no system file is touched).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tests/support/temp_dir.h"

namespace zelvik::db {
class WaveStore;
class OdbcEnvironment;
class OdbcConnection;
}  // namespace zelvik::db

namespace zelvik::test {

inline constexpr const char* kSqliteDriver = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";
inline constexpr const char* kPostgresDriver = "/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so";

// Adds (or replaces) a data source in the process's private odbc.ini, creating that
// file and pointing ODBCINI and ODBCSYSINI at it on first use.
void add_odbc_data_source(const std::string& dsn,
                          const std::vector<std::pair<std::string, std::string>>& keys);
// Adds `alias` as one more name for the existing data source `dsn` (same keys).
void add_odbc_alias(const std::string& alias, const std::string& dsn);
// Path of the private odbc.ini.
std::string odbc_ini_path();

// One FILELIST row. An unset location writes NULL.
struct TestSegment {
    std::string sta, chan;
    std::optional<std::string> loc;
    double tbegin = 0, tqty = 0, sps = 0;
    int datatype = 2;
    int64_t foff = 0;
    std::string cpath;
    std::optional<double> tend;  // written only when the table has TEND
};

// A response row of CALIBRATION; dates are "YYYY-MM-DD HH:MM:SS", bound as timestamps.
struct TestResponse {
    std::string sta, chan, loc, net;
    std::string start;
    std::optional<std::string> end;
    std::optional<std::string> sac, fap;
};

class TestStore {
public:
    virtual ~TestStore();

    const std::string& dsn() const { return dsn_; }
    const std::string& user() const { return user_; }
    const std::string& password() const { return password_; }
    const std::string& data_dir() const { return data_dir_.path(); }
    virtual std::string driver_name() const = 0;  // "sqlite" or "postgres"

    // Runs SQL text directly; false (with error()) on failure.
    bool exec(const std::string& sql);
    const std::string& error() const { return error_; }
    // The schema zelvik-store init creates.
    void create_schema();

    void add_channel(const std::string& sta, const std::string& chan,
                     std::optional<std::string> loc, double sps);
    void add_segment(const TestSegment& s);
    void add_response(const TestResponse& r);
    // Little-endian int32 samples to data_dir/relative; returns the full path.
    std::string write_int32(const std::string& relative, const std::vector<int32_t>& samples,
                            std::string_view header = {});
    // Number of rows a query's first column yields, or -1 on error.
    long count(const std::string& sql);
    // First column of the first row as text ("" when none).
    std::string scalar(const std::string& sql);

    // set_param odbc/user/password/data on `store`.
    void configure(db::WaveStore& store, bool use_tend = false) const;
    // Drops the fixture's own connection (e.g. before the server goes down).
    void close_connection();

protected:
    TestStore(std::string dsn, std::string user, std::string password);
    bool open_connection();
    // The open connection; throws when it cannot be opened.
    const db::OdbcConnection& connection();

    std::string dsn_, user_, password_;
    TempDir data_dir_{"zelvik-data"};
    std::string error_;
    std::unique_ptr<db::OdbcEnvironment> env_;
    std::unique_ptr<db::OdbcConnection> conn_;
};

// A fresh SQLite store file with its own data source; the schema unless `schema` is false.
class SqliteTestStore : public TestStore {
public:
    explicit SqliteTestStore(bool schema = true);
    ~SqliteTestStore() override;
    std::string driver_name() const override { return "sqlite"; }
    const std::string& file() const { return file_; }

private:
    TempDir dir_{"zelvik-sqlite"};
    std::string file_;
};

// A PostgreSQL 15 cluster on loopback in a temp dir. initdb and pg_ctl run as user
// postgres when the test runs as root (they refuse root). Under ctest one cluster
// serves every test process: the fixture tests zelvik_pg_cluster_start/stop run it and
// ZELVIK_PG_CLUSTER_FILE names the file that says where it is.
class PostgresServer {
public:
    // The process's server: the ctest cluster when ZELVIK_PG_CLUSTER_FILE names a live
    // one, else one started on first call and stopped when the process ends.
    static PostgresServer& shared();
    // A server of the caller's own (for tests that stop and start it).
    static std::unique_ptr<PostgresServer> start_private();
    // Starts a cluster and keeps it after the object is gone; writes "<dir> <port>" to
    // `info_file`. For the ctest fixture program.
    static bool start_detached(const std::string& info_file, std::string& reason);
    // Stops and removes the cluster `info_file` names, then the file.
    static bool stop_detached(const std::string& info_file);
    ~PostgresServer();

    // False only when the server binaries are missing; reason() says why.
    bool available() const { return available_; }
    const std::string& reason() const { return reason_; }
    // Started and accepting connections.
    bool running() const { return running_; }
    int port() const { return port_; }

    // Stop and start again; refused (false) on the ctest run's shared cluster, which
    // other processes use: tests that stop a server take start_private().
    [[nodiscard]] bool stop();
    [[nodiscard]] bool start();
    // The postmaster and every process it started (backends included), for tests that
    // freeze the server with SIGSTOP; empty when it does not run.
    std::vector<pid_t> process_ids() const;
    // Runs SQL through psql as the superuser; false on failure.
    bool admin_sql(const std::string& sql, const std::string& database = "postgres");

    static constexpr const char* kUser = "zelvik";
    static constexpr const char* kPassword = "zelvik-secret";

private:
    PostgresServer() = default;
    void create();                              // initdb, start, test role
    bool attach(const std::string& info_file);  // to a running cluster
    std::string as_postgres(const std::string& command) const;

    bool available_ = false;
    bool running_ = false;
    bool owned_ = true;  // stopped and removed with this object
    std::string reason_;
    std::string base_;  // temp dir (data, socket, logs)
    int port_ = 0;
};

// A fresh database on the shared server with its own data source (password login
// over TCP on 127.0.0.1); the schema unless `schema` is false. Construct only when
// PostgresServer::shared().available().
class PostgresTestStore : public TestStore {
public:
    explicit PostgresTestStore(bool schema = true,
                               PostgresServer& server = PostgresServer::shared());
    std::string driver_name() const override { return "postgres"; }
    const std::string& database() const { return database_; }

private:
    std::string database_;
};

// Makes the store kind named "sqlite" or "postgres" (nullptr for postgres when the
// server is not available; `skip_reason` then says why).
std::unique_ptr<TestStore> make_test_store(const std::string& kind, std::string& skip_reason,
                                           bool schema = true);

}  // namespace zelvik::test
