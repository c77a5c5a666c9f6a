// init, import, response and events. Values always go into statements as parameters;
// dates are bound as timestamps, the way Zelvik's response selects bind theirs, so
// the two compare alike on every driver (SQLite's keeps them as text).
#include "tools/store_commands.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <set>
#include <sstream>

#include "common/civil_time.h"
#include "common/clock.h"
#include "common/text.h"
#include "db/odbc_handle.h"
#include "db/store_catalog.h"
#include "db/store_schema.h"
#include "signal/instrument_response.h"
#include "tools/response_row.h"
#include "tools/stationxml_store.h"
#include "tools/store_importer.h"

namespace zelvik::tools {
namespace {

using db::odbc_ok;
using db::OdbcStatement;

// Samples per import batch (one sync and one commit each): about 256 MB of data files.
constexpr size_t kBatchSamples = 64u << 20;

std::set<std::string> existing_tables(const db::OdbcConnection& conn) {
    std::set<std::string> names;
    OdbcStatement st(conn);
    SQLCHAR type[] = "'TABLE'";
    if (!st.valid() ||
        SQLTables(st.get(), nullptr, 0, nullptr, 0, nullptr, 0, type, SQL_NTS) == SQL_ERROR)
        return names;
    SQLCHAR buf[128] = {};
    SQLLEN ind = 0;
    SQLBindCol(st.get(), 3, SQL_C_CHAR, buf, sizeof buf, &ind);
    while (odbc_ok(SQLFetch(st.get())))
        names.insert(common::to_upper(reinterpret_cast<const char*>(buf)));
    return names;
}

// The table a CREATE TABLE / CREATE INDEX ... ON statement is about.
std::string table_of(const std::string& sql) {
    std::istringstream in(sql);
    std::string w, prev, table;
    while (in >> w) {
        if (prev == "TABLE" || prev == "ON") return w;
        prev = w;
    }
    return {};
}

}  // namespace

bool parse_date(const std::string& text, DateFields& d) {
    d = DateFields{};
    char sep = ' ';
    int used = 0;
    const int n = std::sscanf(text.c_str(), "%4d-%2d-%2d%n%c%2d:%2d:%2d%n", &d.year, &d.month,
                              &d.day, &used, &sep, &d.hour, &d.minute, &d.second, &used);
    if (!((n == 3 && static_cast<size_t>(used) == text.size()) ||
          (n == 7 && (sep == ' ' || sep == 'T') && static_cast<size_t>(used) == text.size())))
        return false;
    if (n == 3) d.hour = d.minute = d.second = 0;
    const common::Civil back = common::civil_from_epoch(common::epoch_from_civil(
        {d.year, d.month, d.day, d.hour, d.minute, static_cast<double>(d.second)}));
    return d.year >= 1900 && back.month == d.month && back.day == d.day && d.hour < 24 &&
           d.minute < 60 && d.second < 60;
}

StoreSession::StoreSession(std::string dsn, std::string user, std::string password,
                           std::string data_dir)
    : dsn_(std::move(dsn)),
      user_(std::move(user)),
      password_(std::move(password)),
      data_dir_(std::move(data_dir)) {}

StoreSession::~StoreSession() {
    conn_.reset();
    env_.reset();
}

bool StoreSession::open() {
    env_ = std::make_unique<db::OdbcEnvironment>();
    conn_ = std::make_unique<db::OdbcConnection>(*env_);
    if (!env_->valid() || !conn_->valid()) {
        error_ = "cannot allocate ODBC handles";
        return false;
    }
    return conn_->connect(dsn_, user_, password_, error_);
}

int StoreSession::init(std::ostream& out, std::ostream& err) {
    // init is the one command that makes the data directory; import and Zelvik take a
    // missing one for a mistyped name.
    std::error_code ec;
    if (!std::filesystem::is_directory(data_dir_, ec)) {
        std::filesystem::create_directories(data_dir_, ec);
        if (!std::filesystem::is_directory(data_dir_, ec)) {
            err << "zelvik-store: init: data directory \"" << data_dir_
                << "\" cannot be created: " << ec.message() << "\n";
            return 1;
        }
        out << "init: created data directory \"" << data_dir_ << "\"\n";
    }
    const std::set<std::string> before = existing_tables(*conn_);
    std::vector<std::string> created;
    for (const std::string& sql : db::store_schema_statements()) {
        const std::string table = table_of(sql);
        if (before.count(common::to_upper(table)) != 0)
            continue;  // kept as it is, indexes included
        OdbcStatement st(*conn_);
        if (!odbc_ok(st.exec_direct(sql))) {
            err << "zelvik-store: init: " << st.error_text("init", "cannot create " + table)
                << "\n";
            return 1;
        }
        if (sql.rfind("CREATE TABLE", 0) == 0) created.push_back(table);
    }
    if (created.empty()) {
        out << "init: the store on \"" << dsn_ << "\" already has every table\n";
    } else {
        out << "init: created";
        for (const auto& t : created) out << " " << t;
        out << " on \"" << dsn_ << "\"\n";
    }
    return 0;
}

int StoreSession::import(const std::vector<std::string>& files, std::ostream& out,
                         std::ostream& err) {
    if (files.empty()) {
        err << "zelvik-store: import needs at least one file\n";
        return 2;
    }
    std::error_code ec;
    if (!std::filesystem::is_directory(data_dir_, ec)) {
        err << "zelvik-store: import: data directory \"" << data_dir_
            << "\" does not exist (check DATA= or [DATA] DIR; init creates it)\n";
        return 1;
    }
    db::StoreCatalog catalog;
    catalog.build(*conn_);
    StoreImporter importer(*conn_, catalog, data_dir_);
    if (!importer.prepare()) {
        err << "zelvik-store: import: " << importer.last_error() << " (did you run init?)\n";
        return 1;
    }
    const auto started = std::chrono::steady_clock::now();
    ImportCounts total, batch;
    std::vector<size_t> batch_files;  // indices of the files waiting for the commit
    size_t failed = 0;
    // Rows become visible per batch; a lost batch takes its earlier files with it.
    auto settle = [&](bool committed) {
        if (committed) {
            total.segments_added += batch.segments_added;
            total.samples_added += batch.samples_added;
        } else {
            for (size_t k : batch_files)
                err << "zelvik-store: import " << files[k] << ": rolled back with its batch\n";
            failed += batch_files.size();
        }
        batch = ImportCounts{};
        batch_files.clear();
    };
    for (size_t i = 0; i < files.size(); ++i) {
        ImportCounts counts;
        if (!importer.import_file(files[i], counts)) {
            err << "zelvik-store: import " << files[i] << ": " << importer.last_error() << "\n";
            ++failed;
            if (importer.batch_lost()) settle(false);
            continue;
        }
        if (files.size() > 1)
            err << "[" << i + 1 << "/" << files.size() << "] " << files[i] << ": "
                << counts.segments_added << " segments added, " << counts.segments_present
                << " already present\n";
        total.segments_present += counts.segments_present;
        batch.segments_added += counts.segments_added;
        batch.samples_added += counts.samples_added;
        batch_files.push_back(i);
        if (importer.pending_samples() >= kBatchSamples || i + 1 == files.size()) {
            const bool committed = importer.commit();
            if (!committed) err << "zelvik-store: import: " << importer.last_error() << "\n";
            settle(committed);
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    out << "import: " << files.size() - failed << " of " << files.size() << " files, "
        << total.segments_added << " segments (" << total.samples_added << " samples) added, "
        << total.segments_present << " already present, " << seconds << " s\n";
    return failed == 0 ? 0 : 1;
}

namespace {

// 0 with `req` filled, else the exit status after a one-line message on `err`.
int parse_response(const std::vector<std::string>& args, ResponseRow& req, std::ostream& err) {
    if (args.size() < 7 || args.size() > 8 || (args[0] != "--sac" && args[0] != "--fap")) {
        err << "zelvik-store: response needs --sac|--fap TEXTFILE STA CHAN LOC NETWORK STARTDATE "
               "[ENDDATE], or --stationxml FILE\n";
        return 2;
    }
    req.sac = args[0] == "--sac";
    std::ifstream in(args[1], std::ios::binary);
    if (!in) {
        err << "zelvik-store: response: cannot read " << args[1] << "\n";
        return 1;
    }
    req.text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (const std::string problem = detect::response_text_problem(req.sac, req.text);
        !problem.empty()) {
        err << "zelvik-store: response: " << args[1] << " refused: " << problem
            << " (see zelvik-store --help)\n";
        return 1;
    }
    for (size_t i = 0; i < 4; ++i) {
        req.codes[i] = args[2 + i] == "-" ? "" : args[2 + i];
        // No location is "??" throughout the store: import writes it so, and Zelvik's
        // look-up for LCODE=?? matches only that.
        if (i == 2 && req.codes[i].empty()) req.codes[i] = "??";
        if (req.codes[i].size() > 7) {
            err << "zelvik-store: response: code \"" << req.codes[i]
                << "\" longer than 7 characters\n";
            return 2;
        }
    }
    req.has_end = args.size() == 8;
    if (!parse_date(args[6], req.start) || (req.has_end && !parse_date(args[7], req.end))) {
        err << "zelvik-store: response: dates must read YYYY-MM-DD or \"YYYY-MM-DD HH:MM:SS\"\n";
        return 2;
    }
    return 0;
}

}  // namespace

int StoreSession::response(const std::vector<std::string>& args, std::ostream& out,
                           std::ostream& err) {
    if (!args.empty() && args[0] == "--stationxml") {
        if (args.size() != 2) {
            err << "zelvik-store: response --stationxml needs one FILE\n";
            return 2;
        }
        return store_stationxml_responses(*conn_, args[1], out, err);
    }
    ResponseRow req;
    if (const int status = parse_response(args, req, err); status != 0) return status;
    db::StoreCatalog catalog;
    catalog.build(*conn_);
    std::string error;
    if (!store_response_row(*conn_, catalog, req, error)) {
        err << "zelvik-store: response: " << error << "\n";
        return 1;
    }
    out << "response: " << (req.sac ? "SAC" : "FAP") << " of " << req.codes[0] << " "
        << req.codes[1] << " stored (" << req.text.size() << " characters)\n";
    return 0;
}

int StoreSession::events(const std::vector<std::string>& args, std::ostream& out,
                         std::ostream& err) {
    const long limit =
        args.size() == 2 && args[0] == "--limit" ? common::leading_long(args[1]) : -1;
    if (!args.empty() && limit <= 0) {
        err << "zelvik-store: events takes only --limit N\n";
        return 2;
    }
    db::StoreCatalog c;
    c.build(*conn_);
    const db::Table t = db::Table::kEventlist;
    auto col = [&](const char* n) { return c.column(t, n); };
    const std::string sql = "select " + col("STA") + "," + col("TBEGIN") + "," + col("EVENT_TYPE") +
                            "," + col("AMP") + "," + col("PER") + " from " + c.table(t) +
                            " order by " + col("TBEGIN") + " desc";
    OdbcStatement st(*conn_);
    if (!odbc_ok(st.exec_direct(sql))) {
        err << "zelvik-store: events: " << st.error_text("events", "cannot read the event list")
            << "\n";
        return 1;
    }
    char sta[16] = {};
    double tbegin = 0, amp = 0, per = 0;
    SQLINTEGER type = 0;
    SQLLEN ind[5] = {};
    SQLBindCol(st.get(), 1, SQL_C_CHAR, sta, sizeof sta, &ind[0]);
    SQLBindCol(st.get(), 2, SQL_C_DOUBLE, &tbegin, 0, &ind[1]);
    SQLBindCol(st.get(), 3, SQL_C_SLONG, &type, 0, &ind[2]);
    SQLBindCol(st.get(), 4, SQL_C_DOUBLE, &amp, 0, &ind[3]);
    SQLBindCol(st.get(), 5, SQL_C_DOUBLE, &per, 0, &ind[4]);
    char header[160];
    std::snprintf(header, sizeof header, "%-7s %-23s %4s %12s %9s\n", "STA", "TIME (UTC)", "TYPE",
                  "AMP", "PER");
    out << header;
    for (long n = 0; (limit < 0 || n < limit) && odbc_ok(SQLFetch(st.get())); ++n) {
        const double whole = std::floor(tbegin);
        char line[160];
        std::snprintf(line, sizeof line, "%-7s %s.%03d %4d %12.4g %9.3g\n",
                      ind[0] == SQL_NULL_DATA ? "" : sta, common::utc_text(whole).c_str(),
                      static_cast<int>((tbegin - whole) * 1000.0),
                      ind[2] == SQL_NULL_DATA ? 0 : static_cast<int>(type),
                      ind[3] == SQL_NULL_DATA ? -1.0 : amp, ind[4] == SQL_NULL_DATA ? -1.0 : per);
        out << line;
    }
    return 0;
}

}  // namespace zelvik::tools
