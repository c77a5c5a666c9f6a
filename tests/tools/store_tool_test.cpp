// zelvik-store end to end on real stores: init, import of real miniSEED read back
// through WaveStore, idempotent re-import, damaged files, a batch that fails in the
// database, responses found by Zelvik's selects, the event list, and the command line.
#include "tools/store_tool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "db/store_schema.h"
#include "db/wave_store.h"
#include "tests/support/store_fixture.h"
#include "tools/waveform_reader.h"

namespace zelvik::tools {
namespace {

const std::string kReal = ZELVIK_REAL_DATA_DIR;
const std::string kPhc = kReal + "/NC_PHC_2004011816230722.mseed";
const std::string kBks = kReal + "/BK_BKS_2017071510492061.mseed";

class StoreTool : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        std::string reason;
        store_ = test::make_test_store(GetParam(), reason, false);
        if (!store_) GTEST_SKIP() << reason;
    }
    int run(std::vector<std::string> args) {
        std::vector<std::string> full = {"zelvik-store", "ODBC=" + store_->dsn(),
                                         "USER=" + store_->user(), "PASSWORD=" + store_->password(),
                                         "DATA=" + store_->data_dir()};
        full.insert(full.end(), args.begin(), args.end());
        out_.str(""), err_.str("");
        return run_store_tool(full, out_, err_);
    }
    size_t data_files() const {
        size_t n = 0;
        for (const auto& e : std::filesystem::recursive_directory_iterator(store_->data_dir()))
            n += e.is_regular_file() ? 1 : 0;
        return n;
    }
    std::unique_ptr<test::TestStore> store_;
    std::ostringstream out_, err_;
};

TEST_P(StoreTool, ImportedSamplesReadBackThroughTheStore) {
    ASSERT_EQ(run({"init"}), 0) << err_.str();
    ASSERT_EQ(run({"init"}), 0) << err_.str();  // a second init keeps what is there
    ASSERT_EQ(run({"import", kPhc, kBks}), 0) << err_.str();
    EXPECT_NE(err_.str().find("[2/2]"), std::string::npos);  // progress for several files
    EXPECT_EQ(store_->count("select STA from FILELIST"), 4);
    EXPECT_EQ(store_->count("select STA from SITECHAN"), 4);
    EXPECT_EQ(data_files(), 2u);
    ASSERT_EQ(run({"import", kPhc, kBks}), 0) << err_.str();  // nothing new the second time
    EXPECT_EQ(store_->count("select STA from FILELIST"), 4);
    EXPECT_EQ(data_files(), 2u);

    std::vector<Segment> segs;
    std::string error;
    ASSERT_TRUE(read_miniseed(kPhc, segs, error)) << error;
    db::WaveStore ws;
    store_->configure(ws);
    ASSERT_TRUE(ws.connect()) << ws.last_error();
    EXPECT_EQ(ws.get_sps("PHC", "SHZ", ""), 100.0);
    // A window on whole seconds inside the recording; the first sample at or after it.
    const double t0_in = 1074442900.0;
    double t0 = t0_in, t1 = t0_in + 60;
    std::vector<float> buf(6001);
    std::vector<db::FilledRange> filled;
    ASSERT_EQ(ws.read_samples(buf.data(), buf.size(), "PHC", "SHZ", "??", t0, t1, &filled),
              db::kOk);
    const size_t first = static_cast<size_t>(std::ceil((t0_in - segs[0].start) * 100.0 - 1e-6));
    ASSERT_EQ(filled.size(), 1u);
    EXPECT_EQ(filled[0].count, 6000u);
    for (size_t i = 0; i < 6000; i += 599) ASSERT_EQ(buf[i], segs[0].floats[first + i]) << i;
}

TEST_P(StoreTool, DamagedFileLeavesNothingBehind) {
    ASSERT_EQ(run({"init"}), 0) << err_.str();
    const std::string whole = test::read_file(kPhc);
    test::TempDir dir("zelvik-bad");
    const std::string cut = dir.write("cut.mseed", whole.substr(0, whole.size() - 100));
    EXPECT_EQ(run({"import", cut}), 1);
    const std::string message = err_.str();
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
    EXPECT_NE(message.find("cut.mseed: truncated"), std::string::npos) << message;
    EXPECT_EQ(store_->count("select STA from FILELIST"), 0);
    EXPECT_EQ(data_files(), 0u);
    // The good file beside it still goes in; the exit status still reports the failure.
    EXPECT_EQ(run({"import", cut, kPhc}), 1);
    EXPECT_EQ(store_->count("select STA from FILELIST"), 1);
}

// Station codes are text from the file: a miniSEED station "../.." and a SAC station
// "../../x" must not lead the data files out of the data directory.
TEST_P(StoreTool, HostileStationCodesStayInsideTheDataDirectory) {
    ASSERT_EQ(run({"init"}), 0) << err_.str();
    std::string mseed = test::read_file(kPhc);
    for (size_t at = 0; at < mseed.size(); at += 4096)
        std::memcpy(mseed.data() + at + 8, "../..", 5);
    std::string sac(632 + 400, '\0');
    auto put = [&](size_t word, int32_t v) { std::memcpy(sac.data() + 4 * word, &v, 4); };
    for (size_t off = 440; off < 632; off += 8) std::memcpy(sac.data() + off, "-12345  ", 8);
    const float delta = 0.01f;
    std::memcpy(sac.data(), &delta, 4);
    const int32_t fields[] = {2014, 65, 12, 0, 0, 0};
    for (size_t i = 0; i < 6; ++i) put(70 + i, fields[i]);
    put(76, 6), put(79, 100), put(105, 1);
    std::memcpy(sac.data() + 440, "../../x ", 8);
    std::memcpy(sac.data() + 600, "HHZ     ", 8);
    test::TempDir dir("zelvik-hostile");
    const std::string a = dir.write("a.mseed", mseed), b = dir.write("..b.sac", sac);
    const std::filesystem::path data = std::filesystem::canonical(store_->data_dir());
    // Both imported files must lie inside the data directory (counted below), and the
    // SAC station must not have made a folder beside it. Counting everything beside the
    // store would also count what suites running at the same time write there.
    const std::filesystem::path escape = data.parent_path() / "x";
    const bool escape_existed = std::filesystem::exists(escape);
    ASSERT_EQ(run({"import", a, b}), 0) << err_.str();
    EXPECT_EQ(std::filesystem::exists(escape), escape_existed);
    EXPECT_EQ(data_files(), 2u);
    for (const auto& e : std::filesystem::recursive_directory_iterator(data)) {
        const std::string name = e.path().filename().string();
        EXPECT_NE(name.find(".."), 0u) << e.path();
    }
    EXPECT_EQ(store_->count("select STA from FILELIST where STA='../..'"), 1);
}

TEST_P(StoreTool, DatabaseFailureRollsTheBatchBack) {
    // A store that refuses rows after 2010: the PHC file (2004) goes in first, then the
    // BKS file (2017) fails, and the whole batch is rolled back with its data files.
    for (std::string sql : db::store_schema_statements()) {
        if (sql.rfind("CREATE TABLE FILELIST", 0) == 0)
            sql.insert(sql.size() - 1, ", CHECK (TBEGIN < 1262304000)");
        ASSERT_TRUE(store_->exec(sql)) << store_->error();
    }
    EXPECT_EQ(run({"import", kPhc, kBks}), 1);
    EXPECT_NE(err_.str().find("rolled back with its batch"), std::string::npos) << err_.str();
    EXPECT_EQ(store_->count("select STA from FILELIST"), 0);
    EXPECT_EQ(store_->count("select STA from SITECHAN"), 0);
    EXPECT_EQ(data_files(), 0u);
}

TEST_P(StoreTool, ResponsesAreFoundByTheStoreSelects) {
    ASSERT_EQ(run({"init"}), 0) << err_.str();
    test::TempDir dir("zelvik-resp");
    const std::string paz = dir.write("paz.txt", "ZEROS 3\nPOLES 4\nCONSTANT 1.2e10\n");
    std::string long_table;  // about 100 kB, longer than any fixed buffer
    for (int i = 1; long_table.size() < 100 * 1024; ++i)
        long_table += std::to_string(0.01 * i) + " 6.0e8 0\n";
    const std::string fap = dir.write("fap.txt", long_table);
    ASSERT_EQ(run({"response", "--sac", paz, "ABC", "BHZ", "-", "-", "2010-01-01"}), 0)
        << err_.str();
    ASSERT_EQ(run({"response", "--fap", fap, "ABC", "BHZ", "-", "-", "2010-01-01"}), 0)
        << err_.str();
    ASSERT_EQ(run({"response", "--sac", paz, "ABC", "BHZ", "00", "XX", "2010-01-01 00:00:00",
                   "2011-06-30T12:00:00"}),
              0);
    EXPECT_EQ(store_->count("select STA from CALIBRATION"), 2);  // SAC and FAP share one row
    db::WaveStore ws;
    store_->configure(ws);
    ASSERT_TRUE(ws.connect()) << ws.last_error();
    std::string sac, fap_text, old;
    EXPECT_EQ(ws.select_sac("ABC", "BHZ", "", "", db::store_timestamp_utc(1394100000.0), sac), 1);
    EXPECT_EQ(sac, "ZEROS 3\nPOLES 4\nCONSTANT 1.2e10\n");
    EXPECT_EQ(ws.select_fap("ABC", "BHZ", "", "", db::store_timestamp_utc(1394100000.0), fap_text),
              1);
    EXPECT_EQ(fap_text, long_table);
    // '-' is stored as "??", so Zelvik's default LCODE=?? finds it.
    std::string located;
    EXPECT_EQ(ws.select_sac("ABC", "BHZ", "??", "", db::store_timestamp_utc(1394100000.0), located),
              1);
    EXPECT_EQ(store_->scalar("select LOCATION from CALIBRATION where NETWORK is null or "
                             "NETWORK = ''"),
              "??");
    // The dated row: valid on 2011-01-01 (1293840000), gone on 2012-01-01 (1325376000).
    EXPECT_EQ(ws.select_sac("ABC", "BHZ", "00", "XX", db::store_timestamp_utc(1293840000.0), old),
              1);
    EXPECT_EQ(ws.select_sac("ABC", "BHZ", "00", "XX", db::store_timestamp_utc(1325376000.0), old),
              0);
    EXPECT_EQ(run({"response", "--sac", paz, "ABC", "BHZ", "-", "-", "2010-02-30"}), 2);
}

// Texts Zelvik's own parser cannot use are refused with the reason; nothing is stored.
TEST_P(StoreTool, UnusableResponseTextsAreRefused) {
    ASSERT_EQ(run({"init"}), 0) << err_.str();
    test::TempDir dir("zelvik-resp");
    struct Case {
        const char* kind;
        const char* text;
        const char* reason;
    };
    const Case cases[] = {
        {"--sac", "hello", "not a pole-zero text"},
        {"--sac", "ZEROS 1\nPOLES 1\n0 0\nCONSTANT 0\n", "gives 0 at 1 Hz"},
        {"--fap", "hello", "not a frequency-amplitude-phase text"},
        {"--fap", "0 5 0\n1.0 0 0\n", "not a frequency-amplitude-phase text"},
    };
    for (const Case& c : cases) {
        const std::string file = dir.write("r.txt", c.text);
        EXPECT_EQ(run({"response", c.kind, file, "ABC", "BHZ", "-", "-", "2010-01-01"}), 1)
            << c.text;
        EXPECT_NE(err_.str().find(c.reason), std::string::npos) << err_.str();
    }
    EXPECT_EQ(store_->count("select STA from CALIBRATION"), 0);
}

// A row whose data file has gone is no segment: a new import writes it again, and
// reading through the store finds the samples.
TEST_P(StoreTool, SegmentsWhoseDataFileIsGoneAreWrittenAgain) {
    ASSERT_EQ(run({"init"}), 0) << err_.str();
    ASSERT_EQ(run({"import", kPhc}), 0) << err_.str();
    const std::string cpath = store_->scalar("select CPATH from FILELIST");
    ASSERT_FALSE(cpath.empty());
    ASSERT_TRUE(std::filesystem::remove(store_->data_dir() + "/" + cpath));
    ASSERT_EQ(run({"import", kPhc}), 0) << err_.str();
    EXPECT_NE(out_.str().find("1 segments (24001 samples) added, 0 already present"),
              std::string::npos)
        << out_.str();
    EXPECT_EQ(store_->count("select STA from FILELIST"), 1);  // the stale row went
    EXPECT_TRUE(std::filesystem::is_regular_file(store_->data_dir() + "/" +
                                                 store_->scalar("select CPATH from FILELIST")));
}

TEST_P(StoreTool, EventsComeNewestFirstInUtc) {
    ASSERT_EQ(run({"init"}), 0) << err_.str();
    db::WaveStore ws;
    store_->configure(ws);
    ASSERT_TRUE(ws.connect()) << ws.last_error();
    ASSERT_TRUE(ws.insert_data("OLD", 1394109296.5, 2.0, 0.5));  // 2014-03-06 12:34:56.5
    ASSERT_TRUE(ws.insert_data("NEW", 1394109896.25, 0.0, 0.0));
    ASSERT_EQ(run({"events"}), 0) << err_.str();
    const std::string text = out_.str();
    const size_t newer = text.find("NEW     2014-03-06 12:44:56.250");
    const size_t older = text.find("OLD     2014-03-06 12:34:56.500");
    ASSERT_NE(newer, std::string::npos) << text;
    ASSERT_NE(older, std::string::npos) << text;
    EXPECT_LT(newer, older);
    ASSERT_EQ(run({"events", "--limit", "1"}), 0);
    EXPECT_EQ(out_.str().find("OLD"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Drivers, StoreTool, ::testing::Values("sqlite", "postgres"),
                         [](const auto& info) { return info.param; });

TEST(StoreToolCommandLine, UsageErrorsAndConnectionSources) {
    test::SqliteTestStore store(false);
    test::TempDir dir("zelvik-cli");
    std::ostringstream out, err;
    EXPECT_EQ(run_store_tool({"zelvik-store", "--help"}, out, err), 0);
    EXPECT_NE(out.str().find("import FILE..."), std::string::npos);
    EXPECT_EQ(run_store_tool({"zelvik-store"}, out, err), 2);
    EXPECT_EQ(run_store_tool({"zelvik-store", "ODBC=" + store.dsn(), "frobnicate"}, out, err), 2);
    // The data source from a settings file given with --config, as Zelvik would read it.
    dir.write("zelvik.ini",
              "[DATABASE]\nODBC=" + store.dsn() + "\n[DATA]\nDIR=" + store.data_dir() + "\n");
    out.str("");
    EXPECT_EQ(
        run_store_tool({"zelvik-store", "--config", dir.file("zelvik.ini"), "init"}, out, err), 0)
        << err.str();
    EXPECT_NE(out.str().find("created FILELIST"), std::string::npos);
    // A mistyped --config is named, not replaced by defaults.
    err.str("");
    EXPECT_EQ(run_store_tool({"zelvik-store", "--config", dir.file("zelvk.ini"), "init"}, out, err),
              2);
    EXPECT_EQ(err.str(), "zelvik-store: cannot read settings file " + dir.file("zelvk.ini") +
                             ": No such file or directory\n");
    // A DATA= directory that is not there: import refuses, init makes it.
    const std::string missing = dir.file("no/such/data");
    err.str("");
    EXPECT_EQ(
        run_store_tool({"zelvik-store", "ODBC=" + store.dsn(), "DATA=" + missing, "import", kPhc},
                       out, err),
        1);
    EXPECT_NE(err.str().find("data directory \"" + missing + "\" does not exist"),
              std::string::npos)
        << err.str();
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_EQ(run_store_tool({"zelvik-store", "ODBC=" + store.dsn(), "DATA=" + missing, "init"},
                             out, err),
              0)
        << err.str();
    EXPECT_TRUE(std::filesystem::is_directory(missing));
    out.str("");
    EXPECT_EQ(run_store_tool({"zelvik-store", "--version"}, out, err), 0);
    EXPECT_EQ(out.str().rfind("zelvik-store, build ", 0), 0u) << out.str();
    err.str("");
    EXPECT_EQ(run_store_tool({"zelvik-store", "ODBC=no_such_source", "events"}, out, err), 1);
    EXPECT_NE(err.str().find("cannot connect to data source \"no_such_source\""), std::string::npos)
        << err.str();
}

}  // namespace
}  // namespace zelvik::tools
