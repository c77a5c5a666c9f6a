// A throw-away PostgreSQL 15 cluster for tests: initdb into a temp dir, a free loopback
// port, password login over TCP for the test role, trust on the private socket for
// the superuser. initdb and pg_ctl refuse root, so they run as postgres then.
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <vector>

#include "tests/support/store_fixture.h"

namespace zelvik::test {
namespace {

constexpr const char* kBin = "/usr/lib/postgresql/15/bin";

int free_loopback_port() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    ::close(fd);
    return port;
}

bool run(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

}  // namespace

PostgresServer& PostgresServer::shared() {
    static PostgresServer* server = [] {
        auto* s = new PostgresServer();
        const char* info = std::getenv("ZELVIK_PG_CLUSTER_FILE");
        if (info == nullptr || !s->attach(info)) s->create();
        return s;
    }();
    // Stopped at exit by a static holder, so the cluster goes even when tests leak.
    static const std::unique_ptr<PostgresServer> holder(server);
    return *server;
}

std::unique_ptr<PostgresServer> PostgresServer::start_private() {
    std::unique_ptr<PostgresServer> s(new PostgresServer());
    s->create();
    return s;
}

bool PostgresServer::start_detached(const std::string& info_file, std::string& reason) {
    PostgresServer s;
    s.create();
    reason = s.reason_;
    if (!s.running_) return !s.available_;  // no binaries: the tests skip themselves
    std::ofstream(info_file, std::ios::trunc) << s.base_ << " " << s.port_ << "\n";
    s.owned_ = false;
    return true;
}

bool PostgresServer::stop_detached(const std::string& info_file) {
    PostgresServer s;
    if (!s.attach(info_file)) return true;
    s.owned_ = true;
    std::filesystem::remove(info_file);
    return true;  // the destructor stops the server and removes its directory
}

bool PostgresServer::attach(const std::string& info_file) {
    std::ifstream in(info_file);
    if (!(in >> base_ >> port_) || !std::filesystem::exists(base_ + "/data/postmaster.pid")) {
        base_.clear();
        return false;
    }
    available_ = running_ = true;
    owned_ = false;
    return true;
}

std::string PostgresServer::as_postgres(const std::string& command) const {
    return geteuid() == 0 ? "runuser -u postgres -- " + command : command;
}

void PostgresServer::create() {
    if (!std::filesystem::exists(std::string(kBin) + "/initdb") ||
        !std::filesystem::exists(std::string(kBin) + "/pg_ctl")) {
        reason_ = std::string("PostgreSQL server binaries not found under ") + kBin;
        return;
    }
    available_ = true;
    char pattern[] = "/tmp/zelvik-pg-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        reason_ = "cannot create the cluster directory";
        return;
    }
    base_ = pattern;
    if (geteuid() == 0) {
        const passwd* pw = getpwnam("postgres");
        if (pw == nullptr || chown(base_.c_str(), pw->pw_uid, pw->pw_gid) != 0) {
            reason_ = "cannot hand the cluster directory to user postgres";
            return;
        }
    }
    // The superuser gets trust on the socket only; the test role logs in with a
    // password over TCP, as a real store's user would.
    if (!run(as_postgres(std::string(kBin) + "/initdb -D " + base_ +
                         "/data -U postgres --auth-local=trust " +
                         "--auth-host=scram-sha-256 --no-sync -E UTF8 --locale=C >" + base_ +
                         "/initdb.log 2>&1"))) {
        reason_ = "initdb failed, see " + base_ + "/initdb.log";
        return;
    }
    port_ = free_loopback_port();
    if (!start()) return;
    if (!admin_sql(std::string("create role ") + kUser + " login createdb password '" + kPassword +
                   "'")) {
        reason_ = "cannot create the test role";
        running_ = false;
    }
}

PostgresServer::~PostgresServer() {
    if (base_.empty() || !owned_) return;
    if (running_) (void)stop();
    std::error_code ec;
    std::filesystem::remove_all(base_, ec);
}

bool PostgresServer::start() {
    if (!owned_) return running_;
    const std::string opts = "-p " + std::to_string(port_) + " -k " + base_ +
                             " -c listen_addresses=127.0.0.1 -c fsync=off -c full_page_writes=off";
    running_ = run(as_postgres(std::string(kBin) + "/pg_ctl -D " + base_ + "/data -l " + base_ +
                               "/server.log -w -t 30 -o '" + opts + "' start >/dev/null 2>&1"));
    if (!running_) reason_ = "pg_ctl start failed, see " + base_ + "/server.log";
    return running_;
}

bool PostgresServer::stop() {
    if (!owned_) {
        // Other test processes are using the ctest run's cluster at this moment.
        reason_ =
            "the shared cluster is not stopped by a test; use PostgresServer::start_private()";
        return false;
    }
    const bool ok = run(as_postgres(std::string(kBin) + "/pg_ctl -D " + base_ +
                                    "/data -m immediate -w -t 30 stop >/dev/null 2>&1"));
    if (ok) running_ = false;
    return ok;
}

std::vector<pid_t> PostgresServer::process_ids() const {
    std::vector<pid_t> out;
    std::ifstream pidfile(base_ + "/data/postmaster.pid");
    pid_t postmaster = 0;
    if (!running_ || !(pidfile >> postmaster) || postmaster <= 0) return out;
    out.push_back(postmaster);
    // /proc/<pid>/stat: "pid (comm) state ppid ..."; comm may hold spaces, so the fields
    // are read after its closing parenthesis.
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        std::ifstream stat(entry.path() / "stat");
        std::string text;
        if (!std::getline(stat, text)) continue;
        const size_t close = text.rfind(')');
        if (close == std::string::npos) continue;
        char state = 0;
        long ppid = 0;
        if (std::sscanf(text.c_str() + close + 1, " %c %ld", &state, &ppid) == 2 &&
            ppid == postmaster)
            out.push_back(static_cast<pid_t>(std::stol(entry.path().filename().string())));
    }
    return out;
}

bool PostgresServer::admin_sql(const std::string& sql, const std::string& database) {
    std::string quoted;
    for (char c : sql) {
        if (c == '"' || c == '\\' || c == '$' || c == '`') quoted.push_back('\\');
        quoted.push_back(c);
    }
    return run(as_postgres("/usr/bin/psql -q -X -h " + base_ + " -p " + std::to_string(port_) +
                           " -U postgres -d " + database + " -c \"" + quoted + "\" >/dev/null 2>>" +
                           base_ + "/psql.log"));
}

}  // namespace zelvik::test
