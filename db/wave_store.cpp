// WaveStore: parameters, connect (catalogue, TEND check, prepare_all), the liveness
// probe and disconnect, plus the response and event list operations. Each public
// operation holds mutex_ throughout: the connection's statements are not reentrant.
#include "db/wave_store.h"

#include <cmath>
#include <memory>
#include <vector>

#include "common/civil_time.h"
#include "common/log.h"
#include "common/text.h"
#include "db/store_connection.h"

namespace zelvik::db {
namespace {

constexpr size_t kMaxParamChars = 31;

}  // namespace

StoreTimestamp store_timestamp_utc(double epoch) {
    const common::Civil c = common::civil_from_epoch(std::floor(epoch));
    return StoreTimestamp{c.year, c.month, c.day, c.hour, c.minute, static_cast<int>(c.second), 0};
}

WaveStore::WaveStore() = default;

WaveStore::~WaveStore() {
    std::lock_guard<std::mutex> lock(mutex_);
    // A lost connection is released without a word to the server; a live one is
    // disconnected properly.
    if (is_alive_locked()) disconnect_locked();
    conn_.reset();
}

int WaveStore::set_param(std::string_view name, std::string_view value) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string* text = nullptr;
    if (common::iequals(name, "odbc"))
        text = &data_source_;
    else if (common::iequals(name, "user"))
        text = &user_;
    else if (common::iequals(name, "password"))
        text = &password_;
    if (text != nullptr) {
        // A silently shortened name or password would connect somewhere else or fail
        // with a misleading message.
        if (value.size() > kMaxParamChars) {
            last_error_ =
                "[set_param] Value of " + std::string(name) + " longer than 31 characters";
            return -1;
        }
        text->assign(value);
        return kOk;
    }
    if (common::iequals(name, "data")) {
        data_dir_ = common::forward_slashes(value);
        return kOk;
    }
    if (common::iequals(name, "use_tend")) {
        use_tend_ = common::leading_int(value) != 0;
        if (use_tend_ && conn_ && conn_->dbc.connected()) check_tend_locked();
        return kOk;
    }
    return kUnknownParam;
}

bool WaveStore::connect() {
    std::lock_guard<std::mutex> lock(mutex_);
    return connect_locked();
}

bool WaveStore::connect_locked() {
    // The handles of a lost connection are useless (psqlODBC never recovers one), so
    // they are released before anything new is allocated.
    disconnect_locked();
    auto conn = std::make_unique<StoreConnection>();
    if (!conn->env.valid()) {
        last_error_ = "[connect] Environment handle allocation error";
        return false;
    }
    if (!conn->dbc.valid()) {
        last_error_ = "[connect] Connection handle allocation error";
        return false;
    }
    if (!conn->dbc.connect(data_source_, user_, password_, last_error_)) return false;
    conn_ = std::move(conn);
    catalog_.build(conn_->dbc);
    if (use_tend_) check_tend_locked();
    if (prepare_all_locked() == kStatementError) {
        disconnect_locked();
        return false;
    }
    return true;
}

void WaveStore::check_tend_locked() {
    use_tend_ = false;
    OdbcStatement st(conn_->dbc);
    if (!st.valid()) return;
    std::string table = catalog_.table(Table::kFilelist);
    std::string column = catalog_.column(Table::kFilelist, "TEND");
    const SQLRETURN r =
        SQLColumns(st.get(), nullptr, 0, nullptr, 0, reinterpret_cast<SQLCHAR*>(table.data()),
                   SQL_NTS, reinterpret_cast<SQLCHAR*>(column.data()), SQL_NTS);
    if (r != SQL_ERROR && SQLFetch(st.get()) != SQL_NO_DATA) use_tend_ = true;
    st.close_cursor();
}

int WaveStore::prepare_all_locked() {
    StoreConnection& c = *conn_;
    // Probe and segment statements do not stop the sequence: without them reading
    // fails later with its own code, while the connection still serves the rest.
    (void)c.prepare_probe(catalog_);
    (void)c.prepare_segments(catalog_, segment_end_expr_locked());
    (void)c.prepare_next_start(catalog_);
    if (!c.events.prepare(c.dbc, catalog_)) {
        last_error_ = c.events.last_error();
        common::log_write(common::truncate_to_capacity(last_error_, 1024));
        return kStatementError;
    }
    c.event_batches.attach(c.dbc, catalog_);
    if (!c.responses.prepare(c.dbc, catalog_)) {
        last_error_ = c.responses.last_error();
        common::log_write(common::truncate_to_capacity(last_error_, 1024));
        return kStatementError;
    }
    return kOk;
}

bool WaveStore::is_alive() {
    std::lock_guard<std::mutex> lock(mutex_);
    return is_alive_locked();
}

bool WaveStore::is_alive_locked() {
    if (!conn_ || !conn_->probe.valid()) return false;
    const bool alive = odbc_ok(SQLExecute(conn_->probe.get()));
    conn_->probe.close_cursor();
    return alive;
}

void WaveStore::disconnect() {
    std::lock_guard<std::mutex> lock(mutex_);
    disconnect_locked();
}

void WaveStore::disconnect_locked() {
    // The members of StoreConnection are released statements first, then the
    // connection (disconnected), then the environment.
    conn_.reset();
}

double WaveStore::get_sps(std::string_view sta, std::string_view chan, std::string_view loc) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!fits_code(sta) || !fits_code(chan) || !fits_code(loc))
        return 0.0;  // no stored code is longer
    if (!conn_) {
        last_error_ = "[get_sps] Not connected";
        return -1.0;
    }
    const Table t = Table::kSitechan;
    double sps = 0.0;
    const int found =
        select_channel_value_locked("get_sps", t, catalog_.column(t, "SPS"), sta, chan, loc, sps);
    return found < 0 ? -1.0 : found == 0 ? 0.0 : sps;
}

int WaveStore::select_sac(std::string_view sta, std::string_view chan, std::string_view loc,
                          std::string_view net, const StoreTimestamp& when, std::string& out) {
    return select_response(true, sta, chan, loc, net, when, out);
}

int WaveStore::select_fap(std::string_view sta, std::string_view chan, std::string_view loc,
                          std::string_view net, const StoreTimestamp& when, std::string& out) {
    return select_response(false, sta, chan, loc, net, when, out);
}

int WaveStore::select_response(bool sac, std::string_view sta, std::string_view chan,
                               std::string_view loc, std::string_view net,
                               const StoreTimestamp& when, std::string& out) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!fits_code(sta) || !fits_code(chan) || !fits_code(loc) || !fits_code(net)) return 0;
    if (!conn_) {
        response_error_ =
            sac ? "[select_sac] Execute statement error" : "[select_fap] Execute statement error";
        return -1;
    }
    const int r = conn_->responses.select(sac, sta, chan, loc, net, when, out);
    if (r < 0) response_error_ = conn_->responses.last_error();
    return r;
}

bool WaveStore::delete_data(double limit) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!conn_) {
        event_error_ = "[delete_data] Execute statement error";
        return false;
    }
    const bool ok = conn_->events.delete_data(limit);
    if (!ok) event_error_ = conn_->events.last_error();
    return ok;
}

int WaveStore::is_exist(std::string_view sta, double onset) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!fits_code(sta)) return 0;
    if (!conn_) {
        event_error_ = "[is_exist] Execute statement error";
        return -1;
    }
    const int r = conn_->events.is_exist(sta, onset);
    if (r < 0) event_error_ = conn_->events.last_error();
    return r;
}

bool WaveStore::insert_data(std::string_view sta, double onset, double amp, double per) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!fits_code(sta)) {
        event_error_ = "[insert_data] Station code longer than 7 characters";
        return false;
    }
    if (!conn_) {
        event_error_ = "[insert_data] Execute statement error";
        return false;
    }
    const bool ok = conn_->events.insert_data(sta, onset, amp, per);
    if (!ok) event_error_ = conn_->events.last_error();
    return ok;
}

bool WaveStore::find_events(const EventRow* rows, size_t count, bool* exists) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!conn_) {
        event_error_ = "[find_events] Execute statement error";
        return false;
    }
    // A code too long for the column can match no row: it is not asked for (cut to 7
    // characters it could match another station's).
    std::vector<EventRow> asked;
    std::vector<size_t> place;
    for (size_t i = 0; i < count; ++i) {
        exists[i] = false;
        if (!fits_code(rows[i].sta)) continue;
        asked.push_back(rows[i]);
        place.push_back(i);
    }
    const auto found = std::make_unique<bool[]>(asked.size() + 1);
    if (!conn_->event_batches.find(asked.data(), asked.size(), found.get())) {
        event_error_ = conn_->event_batches.last_error();
        return false;
    }
    for (size_t k = 0; k < asked.size(); ++k) exists[place[k]] = found[k];
    return true;
}

bool WaveStore::insert_events(const EventRow* rows, size_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < count; ++i) {
        if (!fits_code(rows[i].sta)) {
            event_error_ = "[insert_events] Station code longer than 7 characters";
            return false;
        }
    }
    if (!conn_) {
        event_error_ = "[insert_events] Execute statement error";
        return false;
    }
    const bool ok = conn_->event_batches.insert(rows, count);
    if (!ok) event_error_ = conn_->event_batches.last_error();
    return ok;
}

std::string WaveStore::response_last_error() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return response_error_;
}

std::string WaveStore::event_last_error() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return event_error_;
}

std::string WaveStore::last_error() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_error_;
}

std::string WaveStore::data_source_name() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return data_source_;
}

std::string WaveStore::data_directory() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return data_dir_;
}

bool WaveStore::use_tend() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return use_tend_;
}

StoreCatalog WaveStore::catalog() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return catalog_;
}

}  // namespace zelvik::db
