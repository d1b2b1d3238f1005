#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/wall/wall_util.h"
#include "wall/wallhub.h"
#include "wall/wallpage.h"
#include "wall/wallsearch.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// The page, the hub's stream and a search's answer, in headless chromium
// (page_check.py serves them).
TEST(wallPage, showsTheStreamAsTextInChromium) {
    wallHub hub({"Rack 2 node b", "Rack 1 node a", "Rack 3 <b>node c</b>"});
    const char* const names[] = {"Main", "<img src=x onerror=document.title='owned'>", "Setup \x1a\x01"};
    const char* const rows[] = {"BIOS Setup Utility", "Kernel panic - not syncing", "login:"};
    for (int i = 0; i < hub.size(); ++i) {
        remoteScreen screen;
        putRow(screen.cells, 2 * i, rows[i], static_cast<uint16_t>(0x17 + i));
        hub.setRows(i, screen);
        hub.setName(i, names[i]);
    }
    hub.setState(0, wallState::live);
    hub.setState(1, wallState::linkLost, wallHub::clock::now() + 30s);
    hub.setState(2, wallState::failed, {}, "connection refused");
    const int slot = hub.join();
    std::string first, change;
    ASSERT_TRUE(hub.next(slot, first, 0ms));
    remoteScreen later;
    hub.copyScreen(1, later.cells);
    putRow(later.cells, 10, "only on node a");
    hub.setRows(1, later);
    ASSERT_TRUE(hub.next(slot, change, 1000ms));

    std::vector<remoteScreen> screens(hub.size());
    std::vector<wallSearchConsole> consoles;
    for (int i = 0; i < hub.size(); ++i) {
        hub.copyScreen(i, screens[i].cells);
        consoles.push_back({i, hub.description(i), screens[i].cells, {}});
    }
    std::string found;
    ASSERT_TRUE(wallSearch("NODE A", consoles, found));

    char name[] = "/tmp/wall-page-XXXXXX";
    ASSERT_NE(::mkdtemp(name), nullptr);
    const fs::path dir = name;
    std::ofstream(dir / "page.html") << wallPage();
    std::ofstream(dir / "events.txt") << first << "\n" << change << "\n";
    std::ofstream(dir / "search.json") << found;
    std::ofstream(dir / "search.q") << "NODE A";
    const std::string check = "/usr/bin/python3 " QUOR_SOURCE_DIR "/tests/wall/page_check.py " + dir.string();
    EXPECT_EQ(std::system(check.c_str()), 0);
    fs::remove_all(dir);
}
