// Test stores over the real ODBC drivers: private odbc.ini, schema, rows and data files.
// Rows go in as bound parameters, exactly as the acquisition side would write them.
#include "tests/support/store_fixture.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <map>
#include <mutex>
#include <stdexcept>

#include "db/odbc_handle.h"
#include "db/store_schema.h"
#include "db/wave_store.h"

namespace zelvik::test {
namespace {

std::mutex g_ini_mutex;
// Guarded by g_ini_mutex: the ini directory and every data source written so far.
std::unique_ptr<TempDir> g_ini_dir;
std::map<std::string, std::vector<std::pair<std::string, std::string>>> g_sources;

std::string unique_name(const char* prefix) {
    static std::atomic<int> counter{0};
    return std::string(prefix) + std::to_string(getpid()) + "_" + std::to_string(counter++);
}

SQL_TIMESTAMP_STRUCT parse_timestamp(const std::string& text) {
    SQL_TIMESTAMP_STRUCT ts{};
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s) < 3)
        throw std::runtime_error("bad test timestamp " + text);
    ts.year = static_cast<SQLSMALLINT>(y);
    ts.month = static_cast<SQLUSMALLINT>(mo);
    ts.day = static_cast<SQLUSMALLINT>(d);
    ts.hour = static_cast<SQLUSMALLINT>(h);
    ts.minute = static_cast<SQLUSMALLINT>(mi);
    ts.second = static_cast<SQLUSMALLINT>(s);
    return ts;
}

// Parameter binding for one insert; keeps every buffer alive until execution.
class Binder {
public:
    explicit Binder(SQLHSTMT st) : st_(st) {}
    void text(const std::optional<std::string>& v) {
        texts_.push_back(v.value_or(""));
        inds_.push_back(v ? static_cast<SQLLEN>(texts_.back().size()) : SQL_NULL_DATA);
        auto& s = texts_.back();
        SQLBindParameter(st_, ++n_, SQL_PARAM_INPUT, SQL_C_CHAR,
                         v && s.size() > 4000 ? SQL_LONGVARCHAR : SQL_VARCHAR,
                         std::max<size_t>(s.size(), 1), 0, s.data(),
                         static_cast<SQLLEN>(s.size() + 1), &inds_.back());
    }
    void number(std::optional<double> v) {
        doubles_.push_back(v.value_or(0));
        inds_.push_back(v ? 0 : SQL_NULL_DATA);
        SQLBindParameter(st_, ++n_, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0,
                         &doubles_.back(), 0, &inds_.back());
    }
    void big(int64_t v) {
        bigs_.push_back(v);
        inds_.push_back(0);
        SQLBindParameter(st_, ++n_, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, &bigs_.back(),
                         0, &inds_.back());
    }
    void stamp(const std::optional<std::string>& v) {
        stamps_.push_back(v ? parse_timestamp(*v) : SQL_TIMESTAMP_STRUCT{});
        inds_.push_back(v ? 0 : SQL_NULL_DATA);
        SQLBindParameter(st_, ++n_, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 19,
                         0, &stamps_.back(), 0, &inds_.back());
    }

private:
    SQLHSTMT st_;
    SQLUSMALLINT n_ = 0;
    // Deques: growing one never moves the buffers already bound.
    std::deque<std::string> texts_;
    std::deque<SQLLEN> inds_;
    std::deque<double> doubles_;
    std::deque<int64_t> bigs_;
    std::deque<SQL_TIMESTAMP_STRUCT> stamps_;
};

// Runs one insert whose parameters `bind` binds; throws with the driver's message
// (naming `what`) when it fails.
template <typename Bind>
void run_insert(const db::OdbcConnection& conn, const char* what, const std::string& sql,
                Bind bind) {
    db::OdbcStatement st(conn);
    Binder b(st.get());
    bind(b);
    if (!db::odbc_ok(st.exec_direct(sql))) throw std::runtime_error(st.error_text(what, "insert"));
}

// The two drivers get a named entry in the private odbcinst.ini, and odbc.ini names
// them by it: unixODBC reads DontDLClose only for a named driver. Kept loaded, the
// drivers' own leaks still carry their library's name when LeakSanitizer reports at
// exit, so the suppression file can excuse exactly those libraries.
struct NamedDriver {
    const char* name;
    const char* path;
};
constexpr NamedDriver kNamedDrivers[] = {{"ZelvikTestSQLite", kSqliteDriver},
                                         {"ZelvikTestPostgreSQL", kPostgresDriver}};

std::string odbcinst_text() {
    std::string text;
    for (const auto& d : kNamedDrivers)
        text += std::string("[") + d.name + "]\nDriver=" + d.path + "\nDontDLClose=1\n\n";
    return text;
}

std::string driver_entry(const std::string& value) {
    for (const auto& d : kNamedDrivers)
        if (value == d.path) return d.name;
    return value;
}

void write_ini_locked() {
    std::ofstream ini(g_ini_dir->file("odbc.ini"), std::ios::trunc);
    for (const auto& [dsn, keys] : g_sources) {
        ini << "[" << dsn << "]\n";
        for (const auto& [k, v] : keys)
            ini << k << "=" << (k == "Driver" ? driver_entry(v) : v) << "\n";
        ini << "\n";
    }
}

}  // namespace

void add_odbc_data_source(const std::string& dsn,
                          const std::vector<std::pair<std::string, std::string>>& keys) {
    std::lock_guard<std::mutex> lock(g_ini_mutex);
    if (!g_ini_dir) {
        g_ini_dir = std::make_unique<TempDir>("zelvik-odbc");
        // A private odbcinst.ini too: ODBCSYSINI keeps the machine's own files out of
        // the picture.
        g_ini_dir->write("odbcinst.ini", odbcinst_text());
    }
    // Set on every call: another fixture in the same process may have pointed unixODBC
    // at files of its own since.
    setenv("ODBCSYSINI", g_ini_dir->path().c_str(), 1);
    setenv("ODBCINI", g_ini_dir->file("odbc.ini").c_str(), 1);
    g_sources[dsn] = keys;
    write_ini_locked();
}

void add_odbc_alias(const std::string& alias, const std::string& dsn) {
    std::lock_guard<std::mutex> lock(g_ini_mutex);
    const auto it = g_sources.find(dsn);
    if (it == g_sources.end()) throw std::runtime_error("no data source " + dsn);
    g_sources[alias] = it->second;
    write_ini_locked();
}

std::string odbc_ini_path() {
    std::lock_guard<std::mutex> lock(g_ini_mutex);
    return g_ini_dir ? g_ini_dir->file("odbc.ini") : std::string();
}

TestStore::TestStore(std::string dsn, std::string user, std::string password)
    : dsn_(std::move(dsn)), user_(std::move(user)), password_(std::move(password)) {}

TestStore::~TestStore() {
    close_connection();
}

bool TestStore::open_connection() {
    if (conn_ && conn_->connected()) return true;
    conn_.reset();
    env_ = std::make_unique<db::OdbcEnvironment>();
    conn_ = std::make_unique<db::OdbcConnection>(*env_);
    return conn_->connect(dsn_, user_, password_, error_);
}

const db::OdbcConnection& TestStore::connection() {
    if (!open_connection()) throw std::runtime_error(error_);
    return *conn_;
}

void TestStore::close_connection() {
    conn_.reset();
    env_.reset();
}

bool TestStore::exec(const std::string& sql) {
    if (!open_connection()) return false;
    db::OdbcStatement st(*conn_);
    const SQLRETURN r = st.exec_direct(sql);
    if (db::odbc_ok(r) || r == SQL_NO_DATA) return true;
    error_ = st.error_text("exec", sql);
    return false;
}

void TestStore::create_schema() {
    for (const auto& sql : db::store_schema_statements())
        if (!exec(sql)) throw std::runtime_error(error_);
}

void TestStore::add_channel(const std::string& sta, const std::string& chan,
                            std::optional<std::string> loc, double sps) {
    run_insert(connection(), "add_channel",
               "insert into SITECHAN (STA, CHAN, LCODE, SPS) values (?,?,?,?)", [&](Binder& b) {
                   b.text(sta);
                   b.text(chan);
                   b.text(loc);
                   b.number(sps);
               });
}

void TestStore::add_segment(const TestSegment& s) {
    std::string sql =
        "insert into FILELIST (STA, CH, LCODE, TBEGIN, TQTY, SPS, DATATYPE, FOFF, CPATH";
    sql += s.tend ? ", TEND) values (?,?,?,?,?,?,?,?,?,?)" : ") values (?,?,?,?,?,?,?,?,?)";
    run_insert(connection(), "add_segment", sql, [&](Binder& b) {
        b.text(s.sta);
        b.text(s.chan);
        b.text(s.loc);
        b.number(s.tbegin);
        b.number(s.tqty);
        b.number(s.sps);
        b.big(s.datatype);
        b.big(s.foff);
        b.text(s.cpath);
        if (s.tend) b.number(s.tend);
    });
}

void TestStore::add_response(const TestResponse& r) {
    run_insert(
        connection(), "add_response",
        "insert into CALIBRATION (STA, CHAN, LOCATION, NETWORK, STARTDATE, ENDDATE, SAC, FAP) "
        "values (?,?,?,?,?,?,?,?)",
        [&](Binder& b) {
            b.text(r.sta);
            b.text(r.chan);
            b.text(r.loc);
            b.text(r.net);
            b.stamp(r.start);
            b.stamp(r.end);
            b.text(r.sac);
            b.text(r.fap);
        });
}

std::string TestStore::write_int32(const std::string& relative, const std::vector<int32_t>& samples,
                                   std::string_view header) {
    std::string bytes(header);
    for (int32_t v : samples) {
        const auto u = static_cast<uint32_t>(v);
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>((u >> (8 * i)) & 0xFF));
    }
    return data_dir_.write(relative, bytes);
}

long TestStore::count(const std::string& sql) {
    if (!open_connection()) return -1;
    db::OdbcStatement st(*conn_);
    if (!db::odbc_ok(st.exec_direct(sql))) {
        error_ = st.error_text("count", sql);
        return -1;
    }
    long n = 0;
    while (db::odbc_ok(SQLFetch(st.get()))) ++n;
    return n;
}

std::string TestStore::scalar(const std::string& sql) {
    if (!open_connection()) return {};
    db::OdbcStatement st(*conn_);
    if (!db::odbc_ok(st.exec_direct(sql)) || !db::odbc_ok(SQLFetch(st.get()))) return {};
    char buf[4096] = {};
    SQLLEN ind = 0;
    if (!db::odbc_ok(SQLGetData(st.get(), 1, SQL_C_CHAR, buf, sizeof buf, &ind)) ||
        ind == SQL_NULL_DATA)
        return {};
    return buf;
}

void TestStore::configure(db::WaveStore& store, bool use_tend) const {
    (void)store.set_param("ODBC", dsn_);
    (void)store.set_param("USER", user_);
    (void)store.set_param("PASSWORD", password_);
    (void)store.set_param("DATA", data_dir_.path());
    (void)store.set_param("USE_TEND", use_tend ? "1" : "0");
}

SqliteTestStore::SqliteTestStore(bool schema) : TestStore(unique_name("zsqlite"), "", "") {
    file_ = dir_.file("store.db");
    add_odbc_data_source(dsn_,
                         {{"Driver", kSqliteDriver}, {"Database", file_}, {"Timeout", "5000"}});
    if (schema) create_schema();
}

SqliteTestStore::~SqliteTestStore() {
    close_connection();
}

PostgresTestStore::PostgresTestStore(bool schema, PostgresServer& server)
    : TestStore(unique_name("zpg"), PostgresServer::kUser, PostgresServer::kPassword) {
    database_ = dsn_;
    if (!server.admin_sql("create database " + database_ + " owner " + PostgresServer::kUser))
        throw std::runtime_error("cannot create database " + database_);
    add_odbc_data_source(dsn_, {{"Driver", kPostgresDriver},
                                {"Servername", "127.0.0.1"},
                                {"Port", std::to_string(server.port())},
                                {"Database", database_}});
    if (schema) create_schema();
}

std::unique_ptr<TestStore> make_test_store(const std::string& kind, std::string& skip_reason,
                                           bool schema) {
    if (kind == "sqlite") return std::make_unique<SqliteTestStore>(schema);
    PostgresServer& server = PostgresServer::shared();
    if (!server.available()) {
        skip_reason = server.reason();
        return nullptr;
    }
    if (!server.running())
        throw std::runtime_error("PostgreSQL server did not start: " + server.reason());
    return std::make_unique<PostgresTestStore>(schema);
}

}  // namespace zelvik::test
