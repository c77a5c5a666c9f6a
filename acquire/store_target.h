// The acquisition side's own connection to the store, made again after a failure: the
// store may be restarted while a station keeps sending, and what arrives meanwhile is
// asked for again from the source once the store is back.
#pragma once

#include <memory>
#include <string>

namespace zelvik::db {
class OdbcEnvironment;
class OdbcConnection;
class StoreCatalog;
class SegmentWriter;
}  // namespace zelvik::db

namespace zelvik::acquire {

struct StoreTarget {
    std::string dsn, user, password;
    std::string data_dir;  // '/' separators
};

class StoreWriterLink {
public:
    explicit StoreWriterLink(StoreTarget target);
    ~StoreWriterLink();
    StoreWriterLink(const StoreWriterLink&) = delete;
    StoreWriterLink& operator=(const StoreWriterLink&) = delete;

    // Connects and prepares the writer unless that is done. false with last_error().
    [[nodiscard]] bool ensure();
    // After ensure() returned true, until drop().
    db::SegmentWriter& writer() { return *writer_; }
    // Forgets the connection after a failure; the next ensure() connects again.
    void drop();
    const StoreTarget& target() const { return target_; }
    const std::string& last_error() const { return error_; }

private:
    StoreTarget target_;
    std::unique_ptr<db::OdbcEnvironment> env_;
    std::unique_ptr<db::OdbcConnection> conn_;
    std::unique_ptr<db::StoreCatalog> catalog_;
    std::unique_ptr<db::SegmentWriter> writer_;
    std::string error_;
};

}  // namespace zelvik::acquire
