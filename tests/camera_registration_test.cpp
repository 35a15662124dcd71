#include "camera_registration.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string readFile(const fs::path &path)
{
    std::stringstream s;
    s << std::ifstream(path).rdbuf();
    return s.str();
}

// Polls for something another process does; generous, never a measurement.
template <typename Condition>
bool eventually(Condition condition)
{
    for (int i = 0; i < 1000 && !condition(); ++i)
        std::this_thread::sleep_for(10ms);
    return condition();
}

class CameraRegistrationTest : public ::testing::Test {
protected:
    void SetUp() override { camera_registration::SetSysfsRootForTesting(dir / "sys"); }
    void TearDown() override
    {
        camera_registration::ResetForTesting();
        fs::remove_all(dir);
    }

    void addDevice(const std::string &node, const std::string &label)
    {
        fs::create_directories(dir / "sys/class/video4linux" / node);
        std::ofstream(dir / "sys/class/video4linux" / node / "name") << label << "\n";
        std::ofstream(dir / "sys/class/video4linux" / node / "max_openers") << "10\n";
    }

    // A stand-in for the helper: records its arguments, then runs body.
    void writeHelper(const std::string &body, fs::perms perms = fs::perms::owner_all)
    {
        const fs::path script = dir / "helper.sh";
        std::ofstream(script) << "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > '" << (dir / "args").string() << "'\n"
                              << body << "\n";
        fs::permissions(script, perms);
        camera_registration::SetHelperPathForTesting(script);
    }

    const fs::path dir = [] {
        std::string pattern = (fs::temp_directory_path() / "vidloom-reg-XXXXXX").string();
        return fs::path(mkdtemp(pattern.data()));
    }();
    const std::string device = (dir / "sys/class/video4linux/video3").string();
    const std::string makeDevice =
        "mkdir -p '" + device + "' && echo Vidloom > '" + device + "/name' && echo 10 > '" + device + "/max_openers'";
};

TEST_F(CameraRegistrationTest, RegisteredOnlyWhileADeviceIsLabelledVidloom)
{
    EXPECT_FALSE(camera_registration::IsRegistered()) << "no video4linux class at all";
    addDevice("video0", "Integrated Camera");
    addDevice("video1", "Vidloom Other");
    EXPECT_FALSE(camera_registration::IsRegistered());
    addDevice("video7", "Vidloom");
    EXPECT_TRUE(camera_registration::IsRegistered());
}

TEST_F(CameraRegistrationTest, RunsTheHelperWithOneFixedWordAndTrustsOnlyExitZero)
{
    // The state comes from sysfs, not from the exit code.
    const struct {
        std::string body;
        bool unregister, succeeds, registered;
    } rows[] = {
        {makeDevice, false, true, true},
        {"rm -r '" + device + "'", true, true, false},
        {makeDevice + "; exit 1", false, false, true},
        {"kill -9 $$", true, false, true},
    };
    for (const auto &row : rows) {
        writeHelper(row.body);
        EXPECT_EQ(camera_registration::RunTool(row.unregister), row.succeeds) << row.body;
        EXPECT_EQ(readFile(dir / "args"), row.unregister ? "1\nunregister\n" : "1\nregister\n");
        EXPECT_EQ(camera_registration::IsRegistered(), row.registered) << row.body;
    }
}

TEST_F(CameraRegistrationTest, MissingOrUnrunnableHelperStartsNothing)
{
    writeHelper("touch '" + (dir / "ran").string() + "'", fs::perms::owner_read | fs::perms::owner_write);
    for (const fs::path &helper : {dir / "no-such-helper", dir, dir / "helper.sh"}) {
        camera_registration::SetHelperPathForTesting(helper);
        EXPECT_FALSE(camera_registration::RunTool(false)) << helper;
    }
    EXPECT_FALSE(fs::exists(dir / "args") || fs::exists(dir / "ran"));
}

TEST_F(CameraRegistrationTest, HangingHelperFailsIsLeftRunningAndIsReapedLater)
{
    const std::string pidFile = (dir / "pid").string();
    writeHelper("echo $$ > '" + pidFile + ".tmp' && mv '" + pidFile + ".tmp' '" + pidFile + "'; exec sleep 600");
    camera_registration::SetTimeoutForTesting(200ms);
    EXPECT_FALSE(camera_registration::RunTool(false));

    ASSERT_TRUE(eventually([&] { return fs::exists(pidFile); }));
    const pid_t pid = std::stoi(readFile(pidFile));
    ASSERT_GT(pid, 1);
    EXPECT_EQ(kill(pid, 0), 0) << "the helper must not be killed";
    // A zombie would keep its /proc entry.
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    EXPECT_TRUE(eventually([&] { return !fs::exists("/proc/" + std::to_string(pid)); }));
}

} // namespace
