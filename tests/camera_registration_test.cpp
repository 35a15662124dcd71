#include "camera_registration.h"

#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

// Below a folder of ours (mkdtemp's 0700), anything another user could replace, directly or
// through a folder or a link, is refused. Nothing but the installed helper runs through pkexec.
TEST(CameraRegistration, OnlyAHelperNobodyElseCanReplaceIsTrusted)
{
    std::string pattern = (fs::temp_directory_path() / "vidloom-reg-XXXXXX").string();
    const fs::path dir = mkdtemp(pattern.data());
    auto makeFile = [&](const std::string &relative, int folderMode, int fileMode) {
        const fs::path path = dir / relative;
        fs::create_directories(path.parent_path());
        fs::permissions(path.parent_path(), fs::perms(folderMode));
        std::ofstream(path) << "#!/bin/sh\n";
        fs::permissions(path, fs::perms(fileMode));
        return path;
    };
    const fs::path good = makeFile("libexec/helper", 0755, 0755);
    const fs::path open = makeFile("home/user/helper", 0775, 0755);
    fs::create_symlink(open, dir / "libexec/link");
    const struct {
        fs::path path;
        unsigned owner;
        std::string reason; // empty: trusted
    } rows[] = {
        {good, getuid(), ""},
        {dir / "libexec/missing", getuid(), "missing"},
        {good, getuid() + 1, good.string() + " is not owned by uid"},
        {makeFile("libexec/open", 0755, 0757), getuid(), "open is writable by others"},
        {open, getuid(), (dir / "home/user").string() + " is writable by others"},
        {dir / "libexec/link", getuid(), (dir / "home/user").string() + " is writable by others"},
    };
    for (const auto &row : rows) {
        std::string reason;
        EXPECT_EQ(camera_registration::IsTrustedPath(row.path, row.owner, reason, dir), row.reason.empty()) << row.path;
        EXPECT_NE(reason.find(row.reason), std::string::npos) << reason;
    }
    std::string reason;
    EXPECT_FALSE(camera_registration::IsTrustedPath(good, getuid(), reason)) << "/tmp is writable by all";
    fs::remove_all(dir);

    camera_registration::ResetForTesting();
    reason.clear();
    const auto real = camera_registration::ToolCommand(false, reason);
    EXPECT_TRUE(real ? real->program + " " + real->arguments.at(0)
                        == "/usr/bin/pkexec /usr/libexec/vidloom/vidloom-camera-helper"
                     : !reason.empty());
}

TEST(CameraRegistration, TheToolsStderrBecomesOneSentence)
{
    const std::pair<std::string, std::string> rows[] = {
        {"", ""},
        {" \n\n", ""},
        {"modprobe: FATAL: Module v4l2loopback not found\nvidloom-camera-helper: Not installed (package x).\n",
         "Not installed (package x)."},
        {"\nError executing command as another user: Not authorized\n\nThis incident has been reported.\n",
         "Error executing command as another user: Not authorized."},
        {"tab\there\x1b[31m", "tab here [31m."},
        {std::string(500, 'x'), std::string(237, 'x') + "..."},
    };
    for (const auto &[err, reason] : rows)
        EXPECT_EQ(camera_registration::FailureReason(err), reason) << err;
}
