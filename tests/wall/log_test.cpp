#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <set>

#include "tests/wall/wall_util.h"
#include "wall/walllog.h"

using namespace std::chrono;
namespace fs = std::filesystem;

namespace {

struct logTest : ::testing::Test {
    fs::path dir;
    system_clock::time_point now;
    std::unique_ptr<wallLog> log;
    std::function<void(int, const std::string&)> noted;
    remoteScreen screen;
    mode_t umaskWas = ::umask(0);   // the modes below are the log's own

    void SetUp() override {
        ::setenv("TZ", "UTC0", 1);
        ::tzset();
        char name[] = "/tmp/wall-log-XXXXXX";
        ASSERT_NE(::mkdtemp(name), nullptr);
        dir = name;
        screen.screenId = 1;
        screen.screenName = "Main";
    }
    void TearDown() override {
        log.reset();
        fs::remove_all(dir);
        ::umask(umaskWas);
    }
    void open(long long limit = 1000000, size_t buffer = 256 * 1024) {
        wallLogOptions o;
        o.dir = dir / "logs";
        o.limitBytes = limit;
        o.bufferBytes = buffer;
        o.now = [this] { return now; };
        o.noted = [this](int c, const std::string& note) { noted ? noted(c, note) : void(); };
        std::string error;
        log = wallLog::open(o, error);
        ASSERT_TRUE(log) << error;
    }
    void at(int day, int h, int m = 0, int s = 0) { now = sys_days{year{2024} / 3 / day} + hours{h} + minutes{m} + seconds{s}; }
    void scroll(int c, int count, char fill = 'x') {
        uint16_t lines[screenRows][screenCols];
        for (int i = 0; i < count; ++i) putRow(lines, i, std::string(80, fill));
        log->linesScrolled(c, screen.screenId, lines, count);
    }
    static std::string read(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static std::set<std::string> names(const fs::path& folder) {
        std::set<std::string> out;
        for (const auto& e : fs::directory_iterator(folder)) out.insert(e.path().filename());
        return out;
    }
    static bool plays(const fs::path& cast) {
        const std::string cmd = "timeout 60 asciinema play -s 1000 -i 0.01 '" + cast.string() + "' </dev/null >/dev/null 2>&1";
        return std::system(cmd.c_str()) == 0;
    }
};

}  // namespace

TEST_F(logTest, eachDayHasItsRecordingFromTheWholeScreenAndItsHistoryPerScreen) {
    open();
    const int c = log->add("Rack 1/node:a");
    at(1, 23, 59, 58);
    putRow(screen.cells, 0, "before midnight");
    log->sessionStarted(c, screen, false);
    scroll(c, 2, 'o');
    at(2, 0, 0, 1);
    putRow(screen.cells, 1, "after midnight");
    log->rowsChanged(c, screen, 1u << 1);
    screen.screenId = 2;
    log->screenShown(c, screen);
    scroll(c, 1, 'n');
    log->flush();
    EXPECT_EQ(log->note(c), "");

    const fs::path folder = log->folder(c);
    EXPECT_EQ(folder.filename(), "Rack_1_node_a");
    EXPECT_EQ(names(folder), (std::set<std::string>{"2024-03-01.cast", "2024-03-01-screen-1.txt", "2024-03-02.cast",
                                                    "2024-03-02-screen-2.txt"}));
    EXPECT_EQ(read(folder / "2024-03-01-screen-1.txt"), std::string(80, 'o') + "\n" + std::string(80, 'o') + "\n");
    // The new day's file starts with the whole screen as it stands.
    const std::string day2 = read(folder / "2024-03-02.cast");
    const size_t o = day2.find("\"o\""), end = day2.find('\n', o);
    const std::string first = day2.substr(o, end - o);
    EXPECT_NE(first.find("\\u001b[2J"), std::string::npos);
    EXPECT_NE(first.find("before midnight"), std::string::npos);
    EXPECT_NE(first.find("after midnight"), std::string::npos);

    for (const fs::path& d : {dir / "logs", folder}) EXPECT_EQ(fs::status(d).permissions(), fs::perms::owner_all);
    for (const auto& f : fs::directory_iterator(folder)) {
        EXPECT_EQ(f.status().permissions(), fs::perms::owner_read | fs::perms::owner_write) << f.path();
        EXPECT_TRUE(f.path().extension() != ".cast" || plays(f.path())) << f.path();
    }
}

TEST_F(logTest, theOldestDaysGoFirstAndTodayStopsAtTheLimit) {
    const size_t batch = screenRows * (screenCols + 1);   // 25 lines of 80 letters
    const long long limit = 4 * batch + batch / 2;
    open(limit);
    const int c = log->add("rack");
    const fs::path folder = log->folder(c);
    fs::create_directories(folder);
    for (const char* old : {"2024-02-28-screen-1.txt", "2024-02-29-screen-1.txt"})
        std::ofstream(folder / old) << std::string(2 * batch, 'z');
    std::ofstream(folder / "notes") << "not the log's";
    at(1, 12);
    scroll(c, screenRows);
    log->flush();
    EXPECT_EQ(names(folder), (std::set<std::string>{"2024-02-29-screen-1.txt", "2024-03-01-screen-1.txt", "notes"}));
    for (int i = 0; i < 10 && log->note(c).empty(); ++i) {
        scroll(c, screenRows);
        log->flush();
    }
    EXPECT_NE(log->note(c).find("--log-limit"), std::string::npos);
    EXPECT_EQ(names(folder), (std::set<std::string>{"2024-03-01-screen-1.txt", "notes"}));
    const auto today = static_cast<long long>(fs::file_size(folder / "2024-03-01-screen-1.txt"));
    EXPECT_EQ(today % batch, 0);
    EXPECT_TRUE(today <= limit && today + static_cast<long long>(batch) > limit) << today;

    std::string said = "unsaid";
    noted = [&](int, const std::string& note) { said = note; };
    at(2, 0, 0, 1);
    scroll(c, screenRows);
    log->flush();
    EXPECT_EQ(said, "");
    EXPECT_EQ(names(folder), (std::set<std::string>{"2024-03-02-screen-1.txt", "notes"}));
}

TEST_F(logTest, noLinkIsFollowed) {
    const struct { const char* planted; bool stops; } rows[] = {
        {"", true},   // the console's folder itself
        {"2024-03-01-screen-1.txt", true},
        {"2024-03-01.cast", false},   // the recording takes the next name
    };
    at(1, 8);
    const fs::path victim = dir / "victim";
    fs::create_directory(victim);
    std::ofstream(victim / "f") << "kept";
    for (const auto& row : rows) {
        open();
        const int c = log->add("node");
        const fs::path folder = log->folder(c);
        if (*row.planted) fs::create_directories(folder);
        fs::create_symlink(*row.planted ? victim / "f" : victim, *row.planted ? folder / row.planted : folder);
        log->sessionStarted(c, screen, false);
        scroll(c, 1);
        log->flush();
        EXPECT_EQ(names(victim), std::set<std::string>{"f"}) << row.planted;
        EXPECT_EQ(read(victim / "f"), "kept") << row.planted;
        EXPECT_EQ(!log->note(c).empty(), row.stops) << row.planted << ": " << log->note(c);
        EXPECT_EQ(fs::is_regular_file(folder / "2024-03-01-2.cast"), !row.stops);
        log.reset();
        fs::remove_all(dir / "logs");
    }
}

TEST_F(logTest, aFullQueueStopsTheRecordingUntilTheWriterCatchesUp) {
    open(1000000, 8192);
    const int stuck = log->add("stuck"), busy = log->add("busy");
    std::ofstream(fs::path(log->folder(stuck))) << "a file where the folder goes";
    // The writer, telling that "stuck" cannot be logged, waits there: the
    // disk does not keep up.
    std::promise<void> entered, release;
    std::shared_future<void> released = release.get_future().share();
    noted = [&](int c, const std::string& note) {
        if (c != stuck || note.empty()) return;
        entered.set_value();
        released.wait_for(10s);
    };
    at(1, 9);
    log->sessionStarted(stuck, screen, false);
    ASSERT_EQ(entered.get_future().wait_for(10s), std::future_status::ready);
    log->sessionStarted(busy, screen, false);
    for (int i = 0; i < 100 && log->note(busy).empty(); ++i) {
        putRow(screen.cells, 5, "change " + std::to_string(i));
        log->rowsChanged(busy, screen, 1u << 5);
    }
    EXPECT_NE(log->note(busy).find("does not keep up"), std::string::npos);
    release.set_value();
    log->flush();
    putRow(screen.cells, 6, "after the stall");
    log->rowsChanged(busy, screen, 1u << 6);
    EXPECT_EQ(log->note(busy), "");
    log->flush();
    const std::string cast = read(fs::path(log->folder(busy)) / "2024-03-01.cast");
    EXPECT_LT(cast.find("log resumed"), cast.find("after the stall"));
}
