// Move-only owners of ODBC handles: environment, connection, statement. A destructor
// frees its handle (a connection disconnects first), so members declared environment,
// connection, statements are released statements first.
// The one public db header with ODBC types, on purpose: programs that hold a connection
// of their own (zelvik-store, which also hands it to the SegmentWriter; the editor's
// data-source list and connection test; the test fixtures and benchmarks) own it through
// these classes. WaveStore and the query sets keep ODBC out of their interfaces.
#pragma once

#include <sql.h>
#include <sqlext.h>
#include <cstdint>

#include <string>
#include <string_view>
#include <utility>

namespace zelvik::db {

inline bool odbc_ok(SQLRETURN r) {
    return r == SQL_SUCCESS || r == SQL_SUCCESS_WITH_INFO;
}

// A fetch step that ended the rows is no failure.
inline bool odbc_step_ok(SQLRETURN r) {
    return odbc_ok(r) || r == SQL_NO_DATA;
}

// Copies a station, channel, location or network code into a bound 8-byte parameter
// buffer, cut to 7 characters.
inline void copy_code(char (&dst)[8], std::string_view src) {
    const size_t n = src.size() < sizeof dst - 1 ? src.size() : sizeof dst - 1;
    src.copy(dst, n);
    dst[n] = '\0';
}

// The current UTC time in whole seconds as a timestamp parameter (LDDATE columns).
SQL_TIMESTAMP_STRUCT odbc_timestamp_now();
// The UTC calendar fields of whole seconds since 1970, for a timestamp parameter.
SQL_TIMESTAMP_STRUCT odbc_timestamp(int64_t epoch_seconds);

// The message text of the first diagnostic record of a handle (at most 1024 bytes),
// empty when the driver gives none.
std::string odbc_diag_message(SQLSMALLINT type, SQLHANDLE handle);
// Its SQLSTATE ("08S01"), empty when there is none.
std::string odbc_diag_state(SQLSMALLINT type, SQLHANDLE handle);

// "[operation] message : driver message", or without " : ..." when the driver is silent.
std::string odbc_error_text(std::string_view operation, std::string_view message, SQLSMALLINT type,
                            SQLHANDLE handle);

class OdbcHandle {
public:
    OdbcHandle() = default;
    // Allocates a handle of `type` on `parent`; valid() is false when that failed.
    OdbcHandle(SQLSMALLINT type, SQLHANDLE parent);
    ~OdbcHandle() { reset(); }
    OdbcHandle(OdbcHandle&& o) noexcept : type_(o.type_), h_(std::exchange(o.h_, nullptr)) {}
    OdbcHandle& operator=(OdbcHandle&& o) noexcept;
    OdbcHandle(const OdbcHandle&) = delete;
    OdbcHandle& operator=(const OdbcHandle&) = delete;

    SQLHANDLE get() const { return h_; }
    SQLSMALLINT type() const { return type_; }
    bool valid() const { return h_ != nullptr; }
    void reset();

private:
    SQLSMALLINT type_ = SQL_HANDLE_STMT;
    SQLHANDLE h_ = nullptr;
};

class OdbcEnvironment {
public:
    // Allocates the environment and asks for ODBC 3; valid() false on either failure.
    OdbcEnvironment();
    bool valid() const { return h_.valid(); }
    SQLHENV get() const { return static_cast<SQLHENV>(h_.get()); }

private:
    OdbcHandle h_;
};

class OdbcConnection {
public:
    OdbcConnection() = default;
    // Allocates a connection handle on `env`; valid() false when that failed.
    explicit OdbcConnection(const OdbcEnvironment& env);
    ~OdbcConnection() { disconnect(); }
    OdbcConnection(OdbcConnection&& o) noexcept
        : h_(std::move(o.h_)), connected_(std::exchange(o.connected_, false)) {}
    OdbcConnection& operator=(OdbcConnection&&) = delete;

    // SQLConnect with NUL-terminated texts; false with `error` set on failure.
    bool connect(const std::string& dsn, const std::string& user, const std::string& password,
                 std::string& error);
    // SQLDisconnect when connected; safe to call twice.
    void disconnect();

    bool valid() const { return h_.valid(); }
    bool connected() const { return connected_; }
    SQLHDBC get() const { return static_cast<SQLHDBC>(h_.get()); }

private:
    OdbcHandle h_;
    bool connected_ = false;
};

class OdbcStatement {
public:
    OdbcStatement() = default;
    explicit OdbcStatement(const OdbcConnection& conn) : h_(SQL_HANDLE_STMT, conn.get()) {}
    OdbcStatement(OdbcStatement&&) noexcept = default;
    OdbcStatement& operator=(OdbcStatement&&) noexcept = default;

    bool valid() const { return h_.valid(); }
    SQLHSTMT get() const { return static_cast<SQLHSTMT>(h_.get()); }
    // SQLPrepare, then SQLNumResultCols: psqlODBC (and SQLite's driver for some
    // statements) defer the real parse to the first execute, and asking for the result
    // shape makes a missing table or column fail here, at prepare time, on every driver.
    SQLRETURN prepare(const std::string& sql) const;
    // SQLExecDirect of `sql`.
    SQLRETURN exec_direct(const std::string& sql) const;
    // Closes an open cursor; harmless when there is none.
    void close_cursor() const;
    void reset() { h_.reset(); }
    // Diagnostic text in the store's error form for this statement.
    std::string error_text(std::string_view operation, std::string_view message) const {
        return odbc_error_text(operation, message, SQL_HANDLE_STMT, h_.get());
    }

private:
    OdbcHandle h_;
};

}  // namespace zelvik::db
