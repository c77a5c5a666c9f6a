// Store speed on a warm SQLite store: one hour of one 100 sps int32 channel through
// read_samples (target: at most 2 ms per call), a live window at the end of 1 and 30
// days of 1 s segments (the cost must not grow with the history), and zelvik-store
// import of the shared miniSEED set (target: at least 20 million samples per second).
#include <benchmark/benchmark.h>
#include <libmseed.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "db/odbc_handle.h"
#include "db/wave_store.h"
#include "tools/store_tool.h"

namespace {

namespace fs = std::filesystem;
constexpr double kHourStart = 1394100000.0;  // 2014-03-06 10:00:00 UTC
const char* kSharedSet = "/work/shared/data/real/mseed";

// A SQLite store in a temp dir with its own odbc.ini; removed at exit.
struct BenchStore {
    fs::path dir;
    std::string dsn = "zelvik_bench";
    BenchStore() {
        char pattern[] = "/tmp/zelvik-bench-XXXXXX";
        dir = mkdtemp(pattern);
        std::ofstream(dir / "odbcinst.ini");
        std::ofstream(dir / "odbc.ini")
            << "[" << dsn << "]\nDriver=/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so\n"
            << "Database=" << (dir / "store.db").string() << "\n";
        setenv("ODBCSYSINI", dir.c_str(), 1);
        setenv("ODBCINI", (dir / "odbc.ini").c_str(), 1);
    }
    ~BenchStore() { fs::remove_all(dir); }
    std::string data() const { return (dir / "data").string(); }
    int tool(std::vector<std::string> args) const {
        args.insert(args.begin(),
                    {"zelvik-store", "ODBC=" + dsn, "USER=", "PASSWORD=", "DATA=" + data()});
        std::ostringstream out, err;
        const int rc = zelvik::tools::run_store_tool(args, out, err);
        if (rc != 0) std::fprintf(stderr, "%s", err.str().c_str());
        return rc;
    }
    // Empties FILELIST and SITECHAN and removes the data files, keeping the directory
    // (import refuses a data directory that does not exist).
    void clear() const {
        zelvik::db::OdbcEnvironment env;
        zelvik::db::OdbcConnection conn(env);
        std::string error;
        if (!conn.connect(dsn, "", "", error)) return;
        for (const char* sql : {"delete from FILELIST", "delete from SITECHAN"}) {
            zelvik::db::OdbcStatement st(conn);
            (void)st.exec_direct(sql);
        }
        fs::remove_all(data());
        fs::create_directories(data());
    }
};

void write_record(char* record, int length, void* file) {
    std::fwrite(record, 1, static_cast<size_t>(length), static_cast<FILE*>(file));
}

// One hour of a 100 sps int32 channel as Steim-2 miniSEED.
std::string make_int32_hour(const fs::path& dir) {
    const std::string path = (dir / "hour.mseed").string();
    MSTrace* mst = mst_init(nullptr);
    std::strcpy(mst->network, "XX");
    std::strcpy(mst->station, "BENCH");
    std::strcpy(mst->channel, "BHZ");
    mst->starttime = MS_EPOCH2HPTIME(static_cast<hptime_t>(kHourStart));
    mst->samprate = 100.0;
    const int64_t n = 360000;
    auto* samples = static_cast<int32_t*>(std::malloc(sizeof(int32_t) * n));
    for (int64_t i = 0; i < n; ++i) samples[i] = static_cast<int32_t>((i * 7919) % 20001) - 10000;
    mst->datasamples = samples;
    mst->numsamples = mst->samplecnt = n;
    mst->sampletype = 'i';
    FILE* f = std::fopen(path.c_str(), "wb");
    int64_t packed = 0;
    mst_pack(mst, write_record, f, 4096, DE_STEIM2, 1, &packed, 1, 0, nullptr);
    std::fclose(f);
    mst_free(&mst);
    return path;
}

// Connects `ws` to the bench store; false (the benchmark skipped) when it cannot.
bool connect_to(const BenchStore& store, zelvik::db::WaveStore& ws, benchmark::State& state) {
    (void)ws.set_param("ODBC", store.dsn);
    (void)ws.set_param("DATA", store.data());
    (void)ws.set_param("USE_TEND", "0");
    if (ws.connect()) return true;
    state.SkipWithError(ws.last_error().c_str());
    return false;
}

void BM_ReadOneHourInt32(benchmark::State& state) {
    BenchStore store;
    if (store.tool({"init"}) != 0 || store.tool({"import", make_int32_hour(store.dir)}) != 0) {
        state.SkipWithError("store set-up failed");
        return;
    }
    zelvik::db::WaveStore ws;
    if (!connect_to(store, ws, state)) return;
    std::vector<float> buffer(360001);
    std::vector<zelvik::db::FilledRange> filled;
    for (auto _ : state) {
        double t0 = kHourStart, t1 = kHourStart + 3600;
        if (ws.read_samples(buffer.data(), buffer.size(), "BENCH", "BHZ", "", t0, t1, &filled) !=
                0 ||
            filled.empty() || filled[0].count != 360000) {
            state.SkipWithError("read failed");
            break;
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    state.counters["samples/s"] = benchmark::Counter(
        360000.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReadOneHourInt32)->Unit(benchmark::kMillisecond);

// The live reader's query: the last 10 s of a channel after state.range(0) days of 1 s
// segments (100 sps int32, every row naming the same small file).
void BM_LiveWindowAfterDays(benchmark::State& state) {
    BenchStore store;
    const long rows = state.range(0) * 86400;
    if (store.tool({"init"}) != 0) {
        state.SkipWithError("init failed");
        return;
    }
    std::ofstream(store.data() + "/live.dat", std::ios::binary) << std::string(400, '\1');
    {
        zelvik::db::OdbcEnvironment env;
        zelvik::db::OdbcConnection conn(env);
        std::string error;
        (void)conn.connect(store.dsn, "", "", error);
        zelvik::db::OdbcStatement st(conn);
        const std::string sql =
            "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i+1 FROM n WHERE i<" +
            std::to_string(rows - 1) +
            ") INSERT INTO FILELIST (STA,CH,LCODE,TBEGIN,TQTY,SPS,DATATYPE,FOFF,CPATH) "
            "SELECT 'LIVE','BHZ','?\?'," +
            std::to_string(kHourStart) + "+i,1,100,2,0,'live.dat' FROM n";
        if (!SQL_SUCCEEDED(st.exec_direct(sql))) {
            state.SkipWithError("rows not written");
            return;
        }
    }
    zelvik::db::WaveStore ws;
    if (!connect_to(store, ws, state)) return;
    std::vector<float> buffer(360001);
    const double end = kHourStart + static_cast<double>(rows);
    // The first read of a connection may look over the channel's history once; the
    // live reader then reads window after window on the same connection.
    double w0 = end - 10, w1 = end;
    (void)ws.read_samples(buffer.data(), buffer.size(), "LIVE", "BHZ", "", w0, w1);
    for (auto _ : state) {
        double t0 = end - 10, t1 = end - 10 + 3600;
        if (ws.read_samples(buffer.data(), buffer.size(), "LIVE", "BHZ", "", t0, t1) != 0 ||
            t1 != end) {
            state.SkipWithError("read failed");
            break;
        }
        benchmark::DoNotOptimize(buffer.data());
    }
}
BENCHMARK(BM_LiveWindowAfterDays)->Arg(1)->Arg(30)->Unit(benchmark::kMillisecond);

void BM_ImportSharedSet(benchmark::State& state) {
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(kSharedSet))
        if (e.path().extension() == ".mseed") files.push_back(e.path().string());
    if (files.empty()) {
        state.SkipWithError("shared miniSEED set not found");
        return;
    }
    BenchStore store;
    if (store.tool({"init"}) != 0) {
        state.SkipWithError("init failed");
        return;
    }
    std::vector<std::string> args = {"import"};
    args.insert(args.end(), files.begin(), files.end());
    double samples = 0;
    for (auto _ : state) {
        state.PauseTiming();
        store.clear();
        state.ResumeTiming();
        if (store.tool(args) != 0) {
            state.SkipWithError("import failed");
            break;
        }
        state.PauseTiming();
        zelvik::db::OdbcEnvironment env;
        zelvik::db::OdbcConnection conn(env);
        std::string error;
        (void)conn.connect(store.dsn, "", "", error);
        zelvik::db::OdbcStatement st(conn);
        double n = 0;
        if (st.exec_direct("select sum(TQTY*SPS) from FILELIST") == SQL_SUCCESS &&
            SQLFetch(st.get()) == SQL_SUCCESS)
            SQLGetData(st.get(), 1, SQL_C_DOUBLE, &n, 0, nullptr);
        samples += n;
        state.ResumeTiming();
    }
    state.counters["samples/s"] = benchmark::Counter(samples, benchmark::Counter::kIsRate);
    state.counters["files"] = static_cast<double>(files.size());
}
BENCHMARK(BM_ImportSharedSet)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

}  // namespace
