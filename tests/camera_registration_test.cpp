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
    void TearDown() override { fs::remove_all(dir); }

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
    EXPECT_FALSE(camera_registration::IsTrustedPath(good, getuid(), reason))
        << "the temporary folder is writable by all";
}

// With or without an installed helper on this machine, nothing beside
// this test program ever runs as root.
TEST_F(CameraRegistrationTest, OnlyTheInstalledHelperGoesThroughPkexec)
{
    camera_registration::ResetForTesting();
    std::string reason;
    const auto real = camera_registration::ToolCommand(false, reason);
    EXPECT_TRUE(real ? real->program + " " + real->arguments.at(0)
                        == "/usr/bin/pkexec /usr/libexec/vidloom/vidloom-camera-helper"
                     : !reason.empty());
}

TEST_F(CameraRegistrationTest, TheToolsStderrBecomesOneSentence)
{
    const struct {
        std::string err, reason;
    } rows[] = {
        {"", ""},
        {" \n\n", ""},
        {"modprobe: FATAL: Module v4l2loopback not found\nvidloom-camera-helper: Not installed (package x).\n",
         "Not installed (package x)."},
        {"\nError executing command as another user: Not authorized\n\nThis incident has been reported.\n",
         "Error executing command as another user: Not authorized."},
        {"tab\there\x1b[31m", "tab here [31m."},
        {std::string(500, 'x'), std::string(237, 'x') + "..."},
    };
    for (const auto &row : rows)
        EXPECT_EQ(camera_registration::FailureReason(row.err), row.reason) << row.err;
}

} // namespace
