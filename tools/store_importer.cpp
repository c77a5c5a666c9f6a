// Import of one waveform file: read and check it whole, leave out segments the store
// already has, write the rest to a new data file (synced), then add the rows in one
// transaction. Rows name their file relative to the data directory.
#include "tools/store_importer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>
#include <string_view>

#include "common/civil_time.h"
#include "db/odbc_handle.h"
#include "db/sample_reading.h"
#include "db/store_catalog.h"
#include "tools/waveform_reader.h"

namespace zelvik::tools {
namespace {

static_assert(std::endian::native == std::endian::little,
              "data files are written as little-endian memory images");

using db::odbc_ok;
using db::OdbcStatement;

std::string stored_location(const std::string& loc) {
    return loc.empty() ? "??" : loc;
}

// A directory or file name made from text of the file being imported (a station code,
// the file's own name): letters, digits, '_' and '-' are kept, anything else becomes
// '_', so no component can be "." or "..", hold a separator, or be empty.
std::string safe_component(std::string_view text) {
    std::string out;
    for (const char c : text.substr(0, std::min<size_t>(text.size(), 100))) {
        const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || c == '_' || c == '-';
        out.push_back(keep ? c : '_');
    }
    return out.empty() ? std::string("_") : out;
}

// A data file being written; removed on destruction unless kept.
class NewDataFile {
public:
    ~NewDataFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!kept_ && !path_.empty()) ::unlink(path_.c_str());
    }
    // Creates <dir>/<stem>.dat, or <stem>.1.dat ... when taken.
    bool create(const std::string& dir, const std::string& stem, std::string& error) {
        std::error_code ec;
        std::filesystem::create_directories(dir, ec);
        for (int n = 0; n < 1000; ++n) {
            name_ = stem;
            if (n > 0) name_.append(".").append(std::to_string(n));
            name_.append(".dat");
            path_ = dir + "/" + name_;
            fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd_ >= 0) return true;
            if (errno != EEXIST) break;
        }
        error = "cannot create data file " + path_ + ": " + std::strerror(errno);
        path_.clear();
        return false;
    }
    bool write(const void* data, size_t size, std::string& error) {
        const char* p = static_cast<const char*>(data);
        while (size > 0) {
            const ssize_t n = ::write(fd_, p, size);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                error = "cannot write " + path_ + ": " + std::strerror(errno);
                return false;
            }
            p += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }
    // Closed only: the batch syncs all its files at once before it commits.
    bool finish(std::string& error) {
        if (::close(std::exchange(fd_, -1)) != 0) {
            error = "cannot finish " + path_ + ": " + std::strerror(errno);
            return false;
        }
        return true;
    }
    void keep() { kept_ = true; }
    const std::string& name() const { return name_; }
    const std::string& path() const { return path_; }

private:
    int fd_ = -1;
    bool kept_ = false;
    std::string path_, name_;
};

}  // namespace

struct StoreImporter::Statements {
    OdbcStatement find, insert, chan_find, chan_insert, forget;
    char sta[8] = {}, chan[8] = {}, loc[8] = {}, creater[16] = "zelvik-store";
    char cpath[1024] = {};
    double lo = 0, hi = 0, tbegin = 0, tqty = 0, sps = 0, tend = 0;
    SQLSMALLINT datatype = 0;
    SQLBIGINT foff = 0;
    SQL_TIMESTAMP_STRUCT now = {};
    SQLLEN nts = SQL_NTS, zero = 0;
    // results of `find`
    double found_tbegin = 0, found_tqty = 0;
    char found_loc[8] = {};
    char found_cpath[1024] = {};
    SQLLEN found_ind[4] = {};
};

struct StoreImporter::Pending {
    std::vector<std::unique_ptr<NewDataFile>> files;
};

StoreImporter::StoreImporter(const db::OdbcConnection& conn, const db::StoreCatalog& catalog,
                             std::string data_dir)
    : conn_(conn),
      catalog_(catalog),
      data_dir_(std::move(data_dir)),
      st_(std::make_unique<Statements>()),
      pending_(std::make_unique<Pending>()) {}

// An uncommitted batch is rolled back: its files go, its rows never were.
StoreImporter::~StoreImporter() {
    roll_back();
}

size_t StoreImporter::pending_files() const {
    return pending_->files.size();
}

void StoreImporter::roll_back() {
    SQLEndTran(SQL_HANDLE_DBC, conn_.get(), SQL_ROLLBACK);
    pending_->files.clear();
    pending_samples_ = 0;
}

bool StoreImporter::commit() {
    if (pending_->files.empty()) return true;
    // syncfs flushes every new data file of the batch in one call; only then may rows
    // naming them become visible.
    const int dir_fd = ::open(data_dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = dir_fd >= 0 && ::syncfs(dir_fd) == 0;
    if (dir_fd >= 0) ::close(dir_fd);
    if (!synced) {
        error_ = "cannot sync the data files: " + std::string(std::strerror(errno));
        roll_back();
        return false;
    }
    if (!odbc_ok(SQLEndTran(SQL_HANDLE_DBC, conn_.get(), SQL_COMMIT))) {
        error_ = db::odbc_error_text("import", "commit failed", SQL_HANDLE_DBC, conn_.get());
        roll_back();
        return false;
    }
    for (auto& f : pending_->files) f->keep();
    pending_->files.clear();
    pending_samples_ = 0;
    return true;
}

bool StoreImporter::prepare() {
    Statements& s = *st_;
    // From here on the importer decides when rows become visible (commit()).
    if (!odbc_ok(SQLSetConnectAttr(conn_.get(), SQL_ATTR_AUTOCOMMIT,
                                   reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0))) {
        error_ = db::odbc_error_text("prepare", "cannot switch autocommit off", SQL_HANDLE_DBC,
                                     conn_.get());
        return false;
    }
    const db::Table f = db::Table::kFilelist, c = db::Table::kSitechan;
    auto fc = [&](const char* n) { return catalog_.column(f, n); };
    auto cc = [&](const char* n) { return catalog_.column(c, n); };
    auto text = [&](OdbcStatement& st, SQLUSMALLINT n, char* buf, SQLLEN size) {
        SQLBindParameter(st.get(), n, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR,
                         static_cast<SQLULEN>(size - 1), 0, buf, size, &s.nts);
    };
    auto dbl = [&](OdbcStatement& st, SQLUSMALLINT n, double* v) {
        SQLBindParameter(st.get(), n, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0, v, 0,
                         &s.zero);
    };
    auto stamp = [&](OdbcStatement& st, SQLUSMALLINT n) {
        SQLBindParameter(st.get(), n, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 19,
                         0, &s.now, 0, &s.zero);
    };
    const struct {
        OdbcStatement* st;
        std::string sql;
    } texts[] = {
        {&s.find, "select " + fc("TBEGIN") + "," + fc("TQTY") + "," + fc("LCODE") + "," +
                      fc("CPATH") + " from " + catalog_.table(f) + " where " + fc("STA") +
                      "=? and " + fc("CH") + "=? and " + fc("TBEGIN") + ">? and " + fc("TBEGIN") +
                      "<?"},
        // A row whose data file is gone: matched by the same window (the driver may
        // round the stored TBEGIN) and its path.
        {&s.forget, "delete from " + catalog_.table(f) + " where " + fc("STA") + "=? and " +
                        fc("CH") + "=? and " + fc("TBEGIN") + ">? and " + fc("TBEGIN") + "<? and " +
                        fc("CPATH") + "=?"},
        {&s.insert, "insert into " + catalog_.table(f) + " (" + fc("STA") + "," + fc("CH") + "," +
                        fc("LCODE") + "," + fc("TBEGIN") + "," + fc("TQTY") + "," + fc("SPS") +
                        "," + fc("DATATYPE") + "," + fc("FOFF") + "," + fc("CPATH") + "," +
                        fc("TEND") + "," + fc("CREATER") + "," + fc("LDDATE") +
                        ") values (?,?,?,?,?,?,?,?,?,?,?,?)"},
        {&s.chan_find, "select " + cc("SPS") + " from " + catalog_.table(c) + " where " +
                           cc("STA") + "=? and " + cc("CHAN") + "=? and " + cc("LCODE") + "=?"},
        {&s.chan_insert, "insert into " + catalog_.table(c) + " (" + cc("STA") + "," + cc("CHAN") +
                             "," + cc("LCODE") + "," + cc("SPS") + "," + cc("LDDATE") +
                             ") values (?,?,?,?,?)"},
    };
    for (const auto& t : texts) {
        *t.st = OdbcStatement(conn_);
        if (!t.st->valid() || !odbc_ok(t.st->prepare(t.sql))) {
            error_ = t.st->error_text("prepare", "cannot prepare \"" + t.sql + "\"");
            return false;
        }
    }
    text(s.find, 1, s.sta, 8), text(s.find, 2, s.chan, 8), dbl(s.find, 3, &s.lo),
        dbl(s.find, 4, &s.hi);
    SQLBindCol(s.find.get(), 1, SQL_C_DOUBLE, &s.found_tbegin, 0, &s.found_ind[0]);
    SQLBindCol(s.find.get(), 2, SQL_C_DOUBLE, &s.found_tqty, 0, &s.found_ind[1]);
    SQLBindCol(s.find.get(), 3, SQL_C_CHAR, s.found_loc, sizeof s.found_loc, &s.found_ind[2]);
    SQLBindCol(s.find.get(), 4, SQL_C_CHAR, s.found_cpath, sizeof s.found_cpath, &s.found_ind[3]);
    text(s.forget, 1, s.sta, 8), text(s.forget, 2, s.chan, 8), dbl(s.forget, 3, &s.lo),
        dbl(s.forget, 4, &s.hi), text(s.forget, 5, s.found_cpath, sizeof s.found_cpath);
    text(s.insert, 1, s.sta, 8), text(s.insert, 2, s.chan, 8), text(s.insert, 3, s.loc, 8);
    dbl(s.insert, 4, &s.tbegin), dbl(s.insert, 5, &s.tqty), dbl(s.insert, 6, &s.sps);
    SQLBindParameter(s.insert.get(), 7, SQL_PARAM_INPUT, SQL_C_SSHORT, SQL_SMALLINT, 0, 0,
                     &s.datatype, 0, &s.zero);
    SQLBindParameter(s.insert.get(), 8, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, &s.foff,
                     0, &s.zero);
    text(s.insert, 9, s.cpath, sizeof s.cpath), dbl(s.insert, 10, &s.tend);
    text(s.insert, 11, s.creater, sizeof s.creater), stamp(s.insert, 12);
    text(s.chan_find, 1, s.sta, 8), text(s.chan_find, 2, s.chan, 8), text(s.chan_find, 3, s.loc, 8);
    text(s.chan_insert, 1, s.sta, 8), text(s.chan_insert, 2, s.chan, 8),
        text(s.chan_insert, 3, s.loc, 8);
    dbl(s.chan_insert, 4, &s.sps), stamp(s.chan_insert, 5);
    return true;
}

namespace {

// 1 when the store already has this segment (same channel, start within half a sample,
// length within a sample) and its data file is there, 0 when not, -1 on a database
// error. A matching row whose data file has gone is removed (in the batch's
// transaction), so the segment is written again instead of being counted as present.
int already_present(StoreImporter::Statements& s, const Segment& seg, const std::string& loc,
                    const std::string& data_dir) {
    const double half = 0.5 / seg.sps;
    const double tqty = static_cast<double>(seg.count()) / seg.sps;
    s.lo = seg.start - half;
    s.hi = seg.start + half;
    if (!odbc_ok(SQLExecute(s.find.get()))) return -1;
    int found = 0;
    std::vector<std::string> stale;
    SQLRETURN r;
    while (odbc_ok(r = SQLFetch(s.find.get()))) {
        const std::string row_loc = s.found_ind[2] == SQL_NULL_DATA ? "??" : s.found_loc;
        if (row_loc != loc || !(std::fabs(s.found_tqty - tqty) < 2 * half)) continue;
        const std::string cpath = s.found_ind[3] == SQL_NULL_DATA ? "" : s.found_cpath;
        std::error_code ec;
        if (!cpath.empty() && std::filesystem::is_regular_file(data_dir + "/" + cpath, ec))
            found = 1;
        else
            stale.push_back(cpath);
    }
    s.find.close_cursor();
    if (r != SQL_NO_DATA) return -1;
    if (found == 1) return 1;
    for (const std::string& cpath : stale) {
        std::snprintf(s.found_cpath, sizeof s.found_cpath, "%s", cpath.c_str());
        if (!odbc_ok(SQLExecute(s.forget.get()))) return -1;
    }
    return 0;
}

}  // namespace

bool StoreImporter::import_file(const std::string& path, ImportCounts& counts) {
    Statements& s = *st_;
    batch_lost_ = false;
    std::vector<Segment> segments;
    if (!read_waveform_file(path, segments, error_)) return false;
    std::vector<const Segment*> fresh;
    for (const Segment& seg : segments) {
        if (seg.station.size() > 7 || seg.channel.size() > 7 || seg.location.size() > 7) {
            error_ = "station, channel or location code longer than 7 characters: " + seg.station +
                     "." + seg.channel;
            return false;
        }
        db::copy_code(s.sta, seg.station), db::copy_code(s.chan, seg.channel);
        const int present = already_present(s, seg, stored_location(seg.location), data_dir_);
        if (present < 0) {
            error_ = s.find.error_text("import", "cannot look for existing segments");
            return false;
        }
        if (present == 1)
            ++counts.segments_present;
        else
            fresh.push_back(&seg);
    }
    if (fresh.empty()) return true;

    // The file goes under <year>/<station>/ of its first new segment.
    const common::Civil day = common::civil_from_epoch(fresh.front()->start);
    const std::string relative_dir =
        std::to_string(day.year) + "/" + safe_component(fresh.front()->station);
    auto owned = std::make_unique<NewDataFile>();
    NewDataFile& file = *owned;
    if (!file.create(data_dir_ + "/" + relative_dir,
                     safe_component(std::filesystem::path(path).stem().string()), error_))
        return false;
    std::vector<int64_t> offsets;
    int64_t offset = 0;
    for (const Segment* seg : fresh) {
        offsets.push_back(offset);
        const size_t bytes = seg->count() * 4;
        if (!file.write(
                seg->integer ? static_cast<const void*>(seg->ints.data()) : seg->floats.data(),
                bytes, error_))
            return false;
        offset += static_cast<int64_t>(bytes);
    }
    if (!file.finish(error_)) return false;
    if (!add_rows(fresh, offsets, relative_dir + "/" + file.name())) {
        // The transaction cannot be trusted after a failed statement (PostgreSQL refuses
        // every later one), so the whole batch goes.
        roll_back();
        batch_lost_ = true;
        return false;
    }
    pending_->files.push_back(std::move(owned));
    counts.segments_added += fresh.size();
    for (const Segment* seg : fresh) {
        counts.samples_added += seg->count();
        pending_samples_ += seg->count();
    }
    return true;
}

bool StoreImporter::add_rows(const std::vector<const Segment*>& fresh,
                             const std::vector<int64_t>& offsets, const std::string& cpath) {
    Statements& s = *st_;
    s.now = db::odbc_timestamp_now();
    std::snprintf(s.cpath, sizeof s.cpath, "%s", cpath.c_str());
    for (size_t i = 0; i < fresh.size(); ++i) {
        const Segment& seg = *fresh[i];
        db::copy_code(s.sta, seg.station), db::copy_code(s.chan, seg.channel),
            db::copy_code(s.loc, stored_location(seg.location));
        s.tbegin = seg.start;
        s.sps = seg.sps;
        s.tqty = static_cast<double>(seg.count()) / seg.sps;
        s.tend = s.tbegin + s.tqty;
        s.datatype = seg.integer ? db::kInt32 : db::kFloat32;
        s.foff = offsets[i];
        if (!odbc_ok(SQLExecute(s.insert.get()))) {
            error_ = s.insert.error_text("import", "cannot add the FILELIST row");
            return false;
        }
        // One SITECHAN row per channel: added with the channel's first segment.
        if (!odbc_ok(SQLExecute(s.chan_find.get()))) {
            error_ = s.chan_find.error_text("import", "cannot look up SITECHAN");
            return false;
        }
        const SQLRETURN r = SQLFetch(s.chan_find.get());
        s.chan_find.close_cursor();
        if (r == SQL_NO_DATA && !odbc_ok(SQLExecute(s.chan_insert.get()))) {
            error_ = s.chan_insert.error_text("import", "cannot add the SITECHAN row");
            return false;
        }
    }
    return true;
}

}  // namespace zelvik::tools
