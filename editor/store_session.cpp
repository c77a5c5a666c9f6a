// Store queries of the editor. Table and column names come from the StoreCatalog as
// the database writes them; the one value a query takes, the station, is a bound
// parameter, so a code with a quote in it is only a code.
#include "editor/store_session.h"

#include <algorithm>

#include "common/text.h"
#include "db/odbc_handle.h"
#include "db/store_catalog.h"

namespace zelvik::editor {
namespace {

using db::odbc_ok;

std::string masked(std::string text, const std::string& secret) {
    if (secret.empty()) return text;
    for (size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 4))
        text.replace(at, secret.size(), "****");
    return text;
}

// Reads column 1 of the current row as text, whatever its length.
bool read_text(SQLHSTMT st, SQLUSMALLINT column, std::string& out, bool& is_null) {
    out.clear();
    is_null = false;
    char buf[256];
    for (;;) {
        SQLLEN ind = 0;
        const SQLRETURN r = SQLGetData(st, column, SQL_C_CHAR, buf, sizeof buf, &ind);
        if (r == SQL_NO_DATA) return true;
        if (!odbc_ok(r)) return false;
        if (ind == SQL_NULL_DATA) {
            is_null = true;
            return true;
        }
        const size_t got = (ind == SQL_NO_TOTAL || ind >= static_cast<SQLLEN>(sizeof buf))
                               ? sizeof buf - 1
                               : static_cast<size_t>(ind);
        out.append(buf, got);
        if (r == SQL_SUCCESS) return true;
    }
}

}  // namespace

StoreSession::StoreSession() = default;
StoreSession::~StoreSession() {
    close();
}

bool StoreSession::is_open() const {
    return conn_ && conn_->connected();
}

void StoreSession::close() {
    catalog_.reset();
    conn_.reset();
    env_.reset();
}

bool StoreSession::open(const ConnectionParams& params) {
    close();
    error_.clear();
    env_ = std::make_unique<db::OdbcEnvironment>();
    if (!env_->valid()) return false;
    conn_ = std::make_unique<db::OdbcConnection>(*env_);
    if (!conn_->valid()) return false;
    std::string ignored;
    if (!conn_->connect(params.data_source, params.user, params.password, ignored)) {
        // The box shows the driver's own message, without the store's "[connect]" frame;
        // the diagnostic stays on the handle until its next call.
        error_ = masked(db::odbc_diag_message(SQL_HANDLE_DBC, conn_->get()), params.password);
        if (error_.size() > 1023) error_.resize(1023);
        close();
        return false;
    }
    catalog_ = std::make_unique<db::StoreCatalog>();
    catalog_->build(*conn_);
    return true;
}

std::optional<std::vector<std::string>> StoreSession::tables() {
    if (!is_open()) return std::nullopt;
    db::OdbcStatement st(*conn_);
    if (!st.valid()) return std::nullopt;
    SQLCHAR type[] = "'TABLE'";
    if (SQLTables(st.get(), nullptr, 0, nullptr, 0, nullptr, 0, type, SQL_NTS) == SQL_ERROR)
        return std::nullopt;
    std::vector<std::string> names;
    while (odbc_ok(SQLFetch(st.get()))) {
        std::string name;
        bool is_null = false;
        if (!read_text(st.get(), 3, name, is_null)) break;
        names.push_back(name.substr(0, 63));
    }
    st.close_cursor();
    return names;
}

std::optional<std::vector<std::string>> StoreSession::fetch_texts(const std::string& sql,
                                                                  const std::string* parameter) {
    const auto rows = fetch_rows(sql, parameter, 1);
    if (!rows) return std::nullopt;
    std::vector<std::string> values;
    values.reserve(rows->size());
    for (const auto& row : *rows) values.push_back(row.front());
    return values;
}

std::optional<std::vector<std::vector<std::string>>> StoreSession::fetch_rows(
    const std::string& sql, const std::string* parameter, int columns) {
    if (!is_open()) return std::nullopt;
    db::OdbcStatement st(*conn_);
    if (!st.valid() || !odbc_ok(st.prepare(sql))) return std::nullopt;
    SQLLEN parameter_ind = SQL_NTS;
    if (parameter != nullptr) {
        const SQLULEN size = std::max<SQLULEN>(parameter->size(), 1);
        if (!odbc_ok(SQLBindParameter(st.get(), 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, size,
                                      0, const_cast<char*>(parameter->c_str()),
                                      static_cast<SQLLEN>(parameter->size() + 1), &parameter_ind)))
            return std::nullopt;
    }
    if (!odbc_ok(SQLExecute(st.get()))) return std::nullopt;
    std::vector<std::vector<std::string>> rows;
    for (;;) {
        const SQLRETURN r = SQLFetch(st.get());
        if (r == SQL_NO_DATA) break;
        if (!odbc_ok(r)) return std::nullopt;
        std::vector<std::string> row(static_cast<size_t>(columns));
        bool first_null = false;
        for (int c = 0; c < columns; ++c) {
            bool is_null = false;
            if (!read_text(st.get(), static_cast<SQLUSMALLINT>(c + 1), row[size_t(c)], is_null))
                return std::nullopt;
            if (c == 0) first_null = is_null;
        }
        if (!first_null) rows.push_back(std::move(row));
    }
    st.close_cursor();
    return rows;
}

std::optional<std::vector<std::string>> StoreSession::stations() {
    if (!catalog_) return std::nullopt;
    const db::Table t = db::Table::kSitechan;
    return fetch_texts(
        "select distinct " + catalog_->column(t, "STA") + " from " + catalog_->table(t), nullptr);
}

std::optional<std::vector<std::string>> StoreSession::channels(const std::string& station) {
    if (!catalog_) return std::nullopt;
    const db::Table t = db::Table::kSitechan;
    const std::string sql = "select distinct " + catalog_->column(t, "CHAN") + " from " +
                            catalog_->table(t) + " where " + catalog_->column(t, "STA") + "=?";
    return fetch_texts(sql, &station);
}

std::optional<std::vector<ChannelRate>> StoreSession::channel_rates(const std::string& station) {
    if (!catalog_) return std::nullopt;
    const db::Table t = db::Table::kSitechan;
    const std::string sql = "select " + catalog_->column(t, "CHAN") + ", " +
                            catalog_->column(t, "SPS") + " from " + catalog_->table(t) + " where " +
                            catalog_->column(t, "STA") + "=?";
    const auto rows = fetch_rows(sql, &station, 2);
    if (!rows) return std::nullopt;
    std::vector<ChannelRate> rates;
    for (const auto& row : *rows) {
        // A missing or zero rate says nothing about the channel's band.
        const double sps = common::leading_double(row[1]);
        if (sps > 0) rates.push_back({row[0], sps});
    }
    return rates;
}

std::string connection_report(const std::string& data_source, const std::string& user,
                              const std::optional<std::vector<std::string>>& tables) {
    std::string text = "Успешное подключение к DSN: " + data_source + "\t\r\n" +
                       "Пользователь: " + user + "\r\n\r\n";
    if (!tables) return text;
    text += "Количество таблиц: " + std::to_string(tables->size()) + "\r\n";
    for (const std::string& name : *tables) text += "\t" + name + "\r\n";
    return text;
}

std::vector<std::string> offered_codes(const std::vector<std::string>& codes) {
    std::vector<std::string> out;
    out.reserve(codes.size());
    for (const std::string& c : codes) out.push_back(c.substr(0, kCodeLength));
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

}  // namespace zelvik::editor
