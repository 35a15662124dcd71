#include "camera_registration.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

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
    }

    // A folder (and its parents up to dir) of the given mode; a file in it
    // of the given mode.
    fs::path makeFile(const std::string &relative, fs::perms folder, fs::perms file)
    {
        const fs::path path = dir / relative;
        fs::create_directories(path.parent_path());
        fs::permissions(path.parent_path(), folder);
        std::ofstream(path) << "#!/bin/sh\n";
        fs::permissions(path, file);
        return path;
    }

    const fs::path dir = [] {
        std::string pattern = (fs::temp_directory_path() / "vidloom-reg-XXXXXX").string();
        return fs::path(mkdtemp(pattern.data()));
    }();
};

TEST_F(CameraRegistrationTest, RegisteredOnlyWhileADeviceIsLabelledVidloom)
{
    EXPECT_FALSE(camera_registration::IsRegistered()) << "no video4linux class at all";
    addDevice("video0", "Integrated Camera");
    addDevice("video1", "Vidloom Other");
    EXPECT_FALSE(camera_registration::IsRegistered());
    addDevice("video7", "Vidloom");
    EXPECT_TRUE(camera_registration::IsRegistered());
    EXPECT_EQ(camera_registration::DeviceFolder(), dir / "sys/class/video4linux");
}

// Below dir (mode 0700, ours), "our" files pass; anything another user
// could replace, directly or through a folder or a link, is refused.
TEST_F(CameraRegistrationTest, OnlyAHelperNobodyElseCanReplaceIsTrusted)
{
    using P = fs::perms;
    const P shared = P::owner_all | P::group_read | P::group_exec | P::others_read | P::others_exec; // 0755
    const fs::path good = makeFile("libexec/helper", shared, shared);
    const fs::path open = makeFile("home/user/helper", shared | P::group_write, shared);
    fs::create_symlink(open, dir / "libexec/link");
    const struct {
        fs::path path;
        unsigned owner;
        std::string reason; // empty: trusted
    } rows[] = {
        {good, getuid(), ""},
        {dir / "libexec/missing", getuid(), "missing"},
        {good, getuid() + 1, (dir / "libexec/helper").string() + " is not owned by uid"},
        {makeFile("libexec/open", shared, shared | P::others_write), getuid(), "open is writable by others"},
        {open, getuid(), (dir / "home/user").string() + " is writable by others"},
        {dir / "libexec/link", getuid(), (dir / "home/user").string() + " is writable by others"},
    };
    for (const auto &row : rows) {
        std::string reason;
        EXPECT_EQ(camera_registration::IsTrustedPath(row.path, row.owner, reason, dir), row.reason.empty()) << row.path;
        EXPECT_NE(reason.find(row.reason), std::string::npos) << reason;
    }
    std::string reason;
    EXPECT_FALSE(camera_registration::IsTrustedPath(good, getuid(), reason)) << "the temporary folder is writable by all";
}

TEST_F(CameraRegistrationTest, OnlyTheInstalledHelperGoesThroughPkexec)
{
    camera_registration::SetHelperPathForTesting(makeFile("fake", fs::perms::owner_all, fs::perms::owner_all));
    std::string reason;
    const auto direct = camera_registration::ToolCommand(true, reason);
    ASSERT_TRUE(direct);
    EXPECT_EQ(direct->program, (dir / "fake").string());
    EXPECT_EQ(direct->arguments, std::vector<std::string>{"unregister"});

    camera_registration::SetHelperPathForTesting(dir / "missing");
    EXPECT_FALSE(camera_registration::ToolCommand(false, reason));
    EXPECT_EQ(reason, "The camera helper is missing.");

    // This machine may or may not have the installed helper; either way,
    // nothing beside this test program ever runs as root.
    camera_registration::ResetForTesting();
    reason.clear();
    if (const auto command = camera_registration::ToolCommand(false, reason)) {
        EXPECT_EQ(command->program, "/usr/bin/pkexec");
        EXPECT_EQ(command->arguments, (std::vector<std::string>{"/usr/libexec/vidloom/vidloom-camera-helper", "register"}));
    } else {
        EXPECT_FALSE(reason.empty());
    }
}

TEST_F(CameraRegistrationTest, TheToolsLastStderrLineBecomesOneSentence)
{
    const struct {
        std::string err, reason;
    } rows[] = {
        {"", ""},
        {" \n\n", ""},
        {"vidloom-camera-helper: The module is not installed (Debian package x).\n", "The module is not installed (Debian package x)."},
        {"warning\nError executing command as another user: Not authorized\n\n", "Error executing command as another user: Not authorized."},
        {"tab\there\x1b[31m", "tab here [31m."},
        {std::string(500, 'x'), std::string(237, 'x') + "..."},
    };
    for (const auto &row : rows)
        EXPECT_EQ(camera_registration::FailureReason(row.err), row.reason) << row.err;
    EXPECT_EQ(camera_registration::OutcomeOf(0), camera_registration::Outcome::Succeeded);
    EXPECT_EQ(camera_registration::OutcomeOf(126), camera_registration::Outcome::Cancelled);
    for (int code : {-1, 1, 4, 127})
        EXPECT_EQ(camera_registration::OutcomeOf(code), camera_registration::Outcome::Failed) << code;
}

} // namespace
