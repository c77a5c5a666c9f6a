// The commands of zelvik-store on one open connection to the store. Each returns the
// process exit status (0 ok, 1 failure, 2 bad usage) and writes its errors as single
// lines beginning "zelvik-store: ".
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace zelvik::db {
class OdbcEnvironment;
class OdbcConnection;
}  // namespace zelvik::db

namespace zelvik::tools {

class StoreSession {
public:
    StoreSession(std::string dsn, std::string user, std::string password, std::string data_dir);
    ~StoreSession();

    [[nodiscard]] bool open();  // false with error()
    const std::string& error() const { return error_; }

    int init(std::ostream& out, std::ostream& err);
    int import(const std::vector<std::string>& files, std::ostream& out, std::ostream& err);
    int response(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
    int events(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

private:
    std::string dsn_, user_, password_, data_dir_;
    std::string error_;
    std::unique_ptr<db::OdbcEnvironment> env_;
    std::unique_ptr<db::OdbcConnection> conn_;
};

// "YYYY-MM-DD" or "YYYY-MM-DD HH:MM:SS" (or with 'T') as calendar fields; false when
// the text is not such a date or a field is out of range.
struct DateFields {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
[[nodiscard]] bool parse_date(const std::string& text, DateFields& out);

}  // namespace zelvik::tools
