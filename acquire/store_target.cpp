// Members are released writer first, then the catalogue, the connection and the
// environment, the order in which ODBC wants its handles freed.
#include "acquire/store_target.h"

#include <utility>

#include "db/odbc_handle.h"
#include "db/segment_writer.h"
#include "db/store_catalog.h"

namespace zelvik::acquire {

StoreWriterLink::StoreWriterLink(StoreTarget target) : target_(std::move(target)) {}

StoreWriterLink::~StoreWriterLink() {
    drop();
}

bool StoreWriterLink::ensure() {
    if (writer_) return true;
    env_ = std::make_unique<db::OdbcEnvironment>();
    conn_ = std::make_unique<db::OdbcConnection>(*env_);
    if (!env_->valid() || !conn_->valid()) {
        error_ = "cannot allocate ODBC handles";
        drop();
        return false;
    }
    if (!conn_->connect(target_.dsn, target_.user, target_.password, error_)) {
        error_ = "cannot connect to data source \"" + target_.dsn + "\": " + error_;
        drop();
        return false;
    }
    catalog_ = std::make_unique<db::StoreCatalog>();
    catalog_->build(*conn_);
    writer_ = std::make_unique<db::SegmentWriter>(*conn_, *catalog_, "acquire", "zelvik-store");
    if (!writer_->prepare()) {
        error_ = writer_->last_error() + " (did you run init?)";
        drop();
        return false;
    }
    return true;
}

void StoreWriterLink::drop() {
    writer_.reset();
    catalog_.reset();
    conn_.reset();
    env_.reset();
}

}  // namespace zelvik::acquire
