// ODBC handle owners and the diagnostic helpers that build the store's error texts.
#include "db/odbc_handle.h"

#include "common/civil_time.h"
#include "common/clock.h"

namespace zelvik::db {

SQL_TIMESTAMP_STRUCT odbc_timestamp_now() {
    return odbc_timestamp(common::now_utc_seconds());
}

SQL_TIMESTAMP_STRUCT odbc_timestamp(int64_t epoch_seconds) {
    const common::Civil c = common::civil_from_epoch(static_cast<double>(epoch_seconds));
    return {static_cast<SQLSMALLINT>(c.year),
            static_cast<SQLUSMALLINT>(c.month),
            static_cast<SQLUSMALLINT>(c.day),
            static_cast<SQLUSMALLINT>(c.hour),
            static_cast<SQLUSMALLINT>(c.minute),
            static_cast<SQLUSMALLINT>(c.second),
            0};
}

std::string odbc_diag_message(SQLSMALLINT type, SQLHANDLE handle) {
    if (handle == nullptr) return {};
    SQLCHAR state[6] = {};
    SQLCHAR text[1024] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT len = 0;
    const SQLRETURN r = SQLGetDiagRec(type, handle, 1, state, &native, text, sizeof text, &len);
    if (!odbc_ok(r)) return {};
    return reinterpret_cast<const char*>(text);
}

std::string odbc_diag_state(SQLSMALLINT type, SQLHANDLE handle) {
    if (handle == nullptr) return {};
    SQLCHAR state[6] = {};
    SQLCHAR text[8] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT len = 0;
    const SQLRETURN r = SQLGetDiagRec(type, handle, 1, state, &native, text, sizeof text, &len);
    if (!odbc_ok(r)) return {};
    return reinterpret_cast<const char*>(state);
}

std::string odbc_error_text(std::string_view operation, std::string_view message, SQLSMALLINT type,
                            SQLHANDLE handle) {
    std::string out = "[";
    out.append(operation).append("] ").append(message);
    const std::string driver = odbc_diag_message(type, handle);
    if (!driver.empty()) out.append(" : ").append(driver);
    return out;
}

OdbcHandle::OdbcHandle(SQLSMALLINT type, SQLHANDLE parent) : type_(type) {
    SQLHANDLE h = nullptr;
    if (type != SQL_HANDLE_ENV && parent == nullptr) return;
    if (odbc_ok(SQLAllocHandle(type, parent, &h))) h_ = h;
}

OdbcHandle& OdbcHandle::operator=(OdbcHandle&& o) noexcept {
    if (this != &o) {
        reset();
        type_ = o.type_;
        h_ = std::exchange(o.h_, nullptr);
    }
    return *this;
}

void OdbcHandle::reset() {
    if (h_ != nullptr) SQLFreeHandle(type_, std::exchange(h_, nullptr));
}

OdbcEnvironment::OdbcEnvironment() : h_(SQL_HANDLE_ENV, SQL_NULL_HANDLE) {
    if (!h_.valid()) return;
    const SQLRETURN r = SQLSetEnvAttr(static_cast<SQLHENV>(h_.get()), SQL_ATTR_ODBC_VERSION,
                                      reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    if (!odbc_ok(r)) h_.reset();
}

OdbcConnection::OdbcConnection(const OdbcEnvironment& env) : h_(SQL_HANDLE_DBC, env.get()) {}

bool OdbcConnection::connect(const std::string& dsn, const std::string& user,
                             const std::string& password, std::string& error) {
    disconnect();
    if (!h_.valid()) {
        error = "[connect] Connection handle allocation error";
        return false;
    }
    auto text = [](const std::string& s) {
        return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s.c_str()));
    };
    const SQLRETURN r =
        SQLConnect(get(), text(dsn), SQL_NTS, text(user), SQL_NTS, text(password), SQL_NTS);
    if (!odbc_ok(r)) {
        error = odbc_error_text("connect", "Connection error", SQL_HANDLE_DBC, h_.get());
        return false;
    }
    connected_ = true;
    return true;
}

void OdbcConnection::disconnect() {
    if (connected_) {
        connected_ = false;
        SQLDisconnect(get());
    }
}

SQLRETURN OdbcStatement::prepare(const std::string& sql) const {
    const SQLRETURN r =
        SQLPrepare(get(), reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS);
    if (!odbc_ok(r)) return r;
    SQLSMALLINT columns = 0;
    return SQLNumResultCols(get(), &columns);
}

SQLRETURN OdbcStatement::exec_direct(const std::string& sql) const {
    return SQLExecDirect(get(), reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())),
                         SQL_NTS);
}

void OdbcStatement::close_cursor() const {
    // SQLFreeStmt(SQL_CLOSE) rather than SQLCloseCursor: it does not complain (24000)
    // when no cursor is open, which is the common case after a failed execute.
    if (h_.valid()) SQLFreeStmt(get(), SQL_CLOSE);
}

}  // namespace zelvik::db
