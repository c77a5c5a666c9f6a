// The editor's own connection to the waveform store: the connection test with its
// table list, and the station and channel codes of SITECHAN for the channel dialog.
// Not thread-safe: one thread at a time uses a session (the UI runs it off the GUI
// thread and never starts a second call before the first has answered).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "editor/connection_params.h"

namespace zelvik::db {
class OdbcEnvironment;
class OdbcConnection;
class StoreCatalog;
}  // namespace zelvik::db

namespace zelvik::editor {

inline constexpr size_t kCodeLength = 7;  // codes are offered as their first 7 characters

struct ChannelRate {
    std::string channel;  // in full as stored
    double sps = 0.0;     // samples per second, > 0
};

class StoreSession {
public:
    StoreSession();
    ~StoreSession();
    StoreSession(const StoreSession&) = delete;
    StoreSession& operator=(const StoreSession&) = delete;

    // Closes any open connection, then connects with `params` and resolves the store's
    // table and column names. False on failure; error() holds the driver's first
    // diagnostic message (empty when no ODBC handle could be made), with the password
    // masked should a driver repeat it.
    [[nodiscard]] bool open(const ConnectionParams& params);
    void close();
    bool is_open() const;
    const std::string& error() const { return error_; }

    // Names of every table of type TABLE, nullopt when the catalogue call fails.
    std::optional<std::vector<std::string>> tables();
    // The distinct station codes of SITECHAN, each in full as stored (NULLs left out).
    // nullopt when the query fails; an empty list when there is none.
    std::optional<std::vector<std::string>> stations();
    // The distinct channel codes of SITECHAN for `station`, bound as a parameter.
    std::optional<std::vector<std::string>> channels(const std::string& station);

    // Every SITECHAN row of `station` with a positive SPS: its channel and rate.
    std::optional<std::vector<ChannelRate>> channel_rates(const std::string& station);

private:
    // Rows of `columns` texts (NULL read as ""), rows whose first column is NULL left out.
    std::optional<std::vector<std::vector<std::string>>> fetch_rows(const std::string& sql,
                                                                    const std::string* parameter,
                                                                    int columns);
    std::optional<std::vector<std::string>> fetch_texts(const std::string& sql,
                                                        const std::string* parameter);

    std::unique_ptr<db::OdbcEnvironment> env_;
    std::unique_ptr<db::OdbcConnection> conn_;
    std::unique_ptr<db::StoreCatalog> catalog_;
    std::string error_;
};

// The connection test's report: "Успешное подключение к DSN: <dsn>\t\r\nПользователь:
// <user>\r\n\r\n", then, when `tables` is given, "Количество таблиц: <n>\r\n" and one
// "\t<name>\r\n" per table.
std::string connection_report(const std::string& data_source, const std::string& user,
                              const std::optional<std::vector<std::string>>& tables);

// Codes as the dialog offers them: each cut to kCodeLength, duplicates dropped, in
// strcmp order.
std::vector<std::string> offered_codes(const std::vector<std::string>& codes);

}  // namespace zelvik::editor
