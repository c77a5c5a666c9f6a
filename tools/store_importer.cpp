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
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/civil_time.h"
#include "common/clock.h"
#include "db/sample_reading.h"
#include "db/segment_writer.h"
#include "tools/waveform_reader.h"

namespace zelvik::tools {
namespace {

static_assert(std::endian::native == std::endian::little,
              "data files are written as little-endian memory images");

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

struct StoreImporter::Pending {
    std::vector<std::unique_ptr<NewDataFile>> files;
};

StoreImporter::StoreImporter(const db::OdbcConnection& conn, const db::StoreCatalog& catalog,
                             std::string data_dir)
    : data_dir_(std::move(data_dir)),
      writer_(std::make_unique<db::SegmentWriter>(conn, catalog, "import", "zelvik-store")),
      pending_(std::make_unique<Pending>()) {}

// An uncommitted batch is rolled back: its files go, its rows never were.
StoreImporter::~StoreImporter() {
    roll_back();
}

size_t StoreImporter::pending_files() const {
    return pending_->files.size();
}

void StoreImporter::roll_back() {
    writer_->roll_back();
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
    if (!writer_->commit()) {
        error_ = writer_->last_error();
        roll_back();
        return false;
    }
    for (auto& f : pending_->files) f->keep();
    pending_->files.clear();
    pending_samples_ = 0;
    return true;
}

bool StoreImporter::prepare() {
    // From here on the importer decides when rows become visible (commit()).
    if (writer_->prepare()) return true;
    error_ = writer_->last_error();
    return false;
}

namespace {

// 1 when the store already has this segment (same channel, start within half a sample,
// length within a sample) and its data file is there, 0 when not, -1 on a database
// error. A matching row whose data file has gone is removed (in the batch's
// transaction), so the segment is written again instead of being counted as present.
int already_present(db::SegmentWriter& writer, const Segment& seg, const std::string& loc,
                    const std::string& data_dir) {
    const double half = 0.5 / seg.sps;
    const double tqty = static_cast<double>(seg.count()) / seg.sps;
    const double lo = seg.start - half, hi = seg.start + half;
    std::vector<db::StoredSegment> rows;
    if (!writer.find_segments(seg.station, seg.channel, lo, hi, rows)) return -1;
    std::vector<std::string> stale;
    for (const db::StoredSegment& row : rows) {
        if (row.location != loc || !(std::fabs(row.tqty - tqty) < 2 * half)) continue;
        std::error_code ec;
        if (!row.cpath.empty() && std::filesystem::is_regular_file(data_dir + "/" + row.cpath, ec))
            return 1;
        stale.push_back(row.cpath);
    }
    for (const std::string& cpath : stale) {
        if (!writer.forget_segment(seg.station, seg.channel, lo, hi, cpath)) return -1;
    }
    return 0;
}

}  // namespace

bool StoreImporter::import_file(const std::string& path, ImportCounts& counts) {
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
        const int present =
            already_present(*writer_, seg, stored_location(seg.location), data_dir_);
        if (present < 0) {
            error_ = writer_->last_error();
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
    // One LDDATE for every row of the file.
    const int64_t now = common::now_utc_seconds();
    for (size_t i = 0; i < fresh.size(); ++i) {
        const Segment& seg = *fresh[i];
        db::SegmentRecord row;
        row.station = seg.station;
        row.channel = seg.channel;
        row.location = stored_location(seg.location);
        row.tbegin = seg.start;
        row.sps = seg.sps;
        row.tqty = static_cast<double>(seg.count()) / seg.sps;
        row.datatype = seg.integer ? db::kInt32 : db::kFloat32;
        row.foff = offsets[i];
        row.cpath = cpath;
        row.load_date = now;
        // One SITECHAN row per channel: added with the channel's first segment.
        if (!writer_->add_segment(row) ||
            !writer_->add_channel(row.station, row.channel, row.location, row.sps, now)) {
            error_ = writer_->last_error();
            return false;
        }
    }
    return true;
}

}  // namespace zelvik::tools
