// The root helper against a temporary root and a fake kernel: one fixed word, only its two
// files, never through a planted link, never unloading a module that serves another program.
#include "camera_helper.h"
#include "modprobe_system.h"
#include "test_media.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

namespace fs = std::filesystem;
using Args = std::vector<std::string>;
using Files = std::map<std::string, std::string>; // path below the root: contents

namespace {

const Args kLoad{"v4l2loopback", "devices=1", "exclusive_caps=1", "card_label=Vidloom"};
const Args kUnload{"-r", "v4l2loopback"};
const Args kFind{"--dry-run", "--quiet", "v4l2loopback"};
const Files kOurFiles{
    {"etc/modprobe.d/vidloom.conf", "options v4l2loopback devices=1 exclusive_caps=1 card_label=Vidloom\n"},
    {"etc/modules-load.d/vidloom.conf", "v4l2loopback\n"}};

class HelperTest : public ::testing::Test, public camera_helper::System {
protected:
    // The fake kernel: modprobe changes sysfs below the root.
    bool Modprobe(const Args &args) override
    {
        calls.push_back(args);
        if (args == kFind)
            return installed;
        if (args == kLoad && loads) {
            fs::create_directories(root / "sys/module/v4l2loopback");
            if (makesDevice)
                addDevice("video4", "Vidloom");
            return true;
        }
        if (args != kUnload || !unloads)
            return false;
        fs::remove_all(root / "sys/module/v4l2loopback");
        for (const auto &entry : fs::directory_iterator(root / "sys/class/video4linux"))
            if (fs::exists(entry.path() / "max_openers"))
                fs::remove_all(entry.path());
        return true;
    }

    void write(const std::string &relative, const std::string &text)
    {
        fs::create_directories((root / relative).parent_path());
        std::ofstream(root / relative) << text;
    }
    // Only v4l2loopback's devices have max_openers.
    void addDevice(const std::string &node, const std::string &label, bool loopback = true)
    {
        write("sys/class/video4linux/" + node + "/name", label + "\n");
        if (loopback)
            write("sys/class/video4linux/" + node + "/max_openers", "10\n");
    }

    int run(const Args &words)
    {
        std::vector<const char *> argv{"vidloom-camera-helper"};
        for (const std::string &w : words)
            argv.push_back(w.c_str());
        argv.push_back(nullptr);
        err.str("");
        return camera_helper::Main(int(argv.size() - 1), argv.data(), root, *this, err);
    }

    Files etcFiles() const
    {
        Files files;
        std::error_code none;
        for (const auto &entry : fs::recursive_directory_iterator(root / "etc", none))
            if (!entry.is_directory())
                files[fs::relative(entry.path(), root).string()] = test_media::ReadFile(entry.path());
        return files;
    }

    const fs::path root = test_media::Dir() / "root";
    bool installed = true, loads = true, makesDevice = true, unloads = true;
    std::vector<Args> calls;
    std::ostringstream err;
};

// What a row's root holds beside a real camera no row may touch, and how its fake kernel
// behaves. Planted: an old file of ours with a second hard link, a symlink in place of the other.
constexpr int None = 0, Registered = 1, Loaded = 2, Other = 4, Ours = 8, NoLoad = 16, NoDevice = 32, NoUnload = 64,
              NoEtc = 128, Missing = 256, OtherOptions = 512, Planted = 1024;

TEST_F(HelperTest, OutcomesAsData)
{
    using namespace camera_helper;
    struct Row {
        int setup;
        Args words;
        int code;
        std::string message;
        std::vector<Args> calls;
        Files files;
    };
    const Files notAFolder{{"etc/modprobe.d", "x"}};
    std::vector<Row> rows = {
        {Loaded, {"register"}, kOtherProgramsDevices, "another program's camera", {}, {}},
        {Loaded | Other, {"register"}, kOtherProgramsDevices, "another program's camera", {}, {}},
        {None, {"register"}, kSuccess, "", {kLoad}, kOurFiles},
        {Planted, {"register"}, kSuccess, "", {kLoad}, kOurFiles},
        {Registered, {"register"}, kSuccess, "", {}, kOurFiles}, // already there: nothing reloaded
        {Loaded | Other | Ours, {"register"}, kSuccess, "", {}, kOurFiles},
        {NoLoad, {"register"}, kModuleFailed, "Secure Boot", {kLoad, kFind}, {}},
        {NoLoad | Missing, {"register"}, kModuleFailed, "(Debian package v4l2loopback-dkms)", {kLoad, kFind}, {}},
        {OtherOptions, {"register"}, kOtherProgramsDevices, "/usr/lib/modprobe.d/other-camera.conf", {}, {}},
        {NoDevice, {"register"}, kModuleFailed, "no device labelled", {kLoad}, {}},
        {NoEtc, {"register"}, kFileFailed, "Could not write /etc/modprobe.d/vidloom.conf", {}, notAFolder},
        {Registered, {"unregister"}, kSuccess, "", {kUnload}, {}},
        {None, {"unregister"}, kSuccess, "", {}, {}},
        {Registered | Other, {"unregister"}, kOtherProgramsDevices, "stays loaded", {}, {}},
        {Registered | NoUnload, {"unregister"}, kModuleFailed, "close the programs", {kUnload}, {}},
    };
    const std::vector<Args> refused = {
        {},   {"register", "unregister"},    {"register", "card_label=Evil"}, {"Register"}, {"register "},
        {""}, {"/etc/modprobe.d/evil.conf"}, {"--root=/tmp", "register"},     {"-r"},       {"--help"},
    };
    for (const Args &words : refused)
        rows.push_back({Registered, words, kUsageError, "usage:", {}, kOurFiles});
    for (const auto &row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.words) + " after setup " + std::to_string(row.setup));
        fs::remove_all(root);
        addDevice("video0", "Integrated Camera", /*loopback=*/false);
        installed = !(row.setup & Missing);
        loads = !(row.setup & NoLoad);
        makesDevice = !(row.setup & NoDevice);
        unloads = !(row.setup & NoUnload);
        if (row.setup & Registered) {
            ASSERT_EQ(run({"register"}), kSuccess) << err.str();
        }
        if (row.setup & Loaded)
            fs::create_directories(root / "sys/module/v4l2loopback");
        if (row.setup & Other)
            addDevice("video9", "Other Loopback");
        if (row.setup & Ours)
            addDevice("video2", "Vidloom");
        if (row.setup & OtherOptions)
            write("usr/lib/modprobe.d/other-camera.conf", "# theirs\noptions  v4l2loopback devices=2\n");
        if (row.setup & NoEtc)
            write("etc/modprobe.d", "x");
        if (row.setup & Planted) {
            write("etc/modprobe.d/vidloom.conf", "old\n");
            fs::create_hard_link(root / "etc/modprobe.d/vidloom.conf", root / "old-link");
            write("victim", "keep\n");
            fs::create_directories(root / "etc/modules-load.d");
            fs::create_symlink(root / "victim", root / "etc/modules-load.d/vidloom.conf");
        }
        calls.clear();
        EXPECT_EQ(run(row.words), row.code) << err.str();
        EXPECT_NE(err.str().find(row.message), std::string::npos) << err.str();
        EXPECT_EQ(calls, row.calls);
        EXPECT_EQ(etcFiles(), row.files) << "only our files, whole, no temporary file left";
        EXPECT_TRUE(fs::exists(root / "sys/class/video4linux/video0"));
        if (row.setup & Planted) { // new files, renamed into place
            EXPECT_EQ(test_media::ReadFile(root / "old-link"), "old\n");
            EXPECT_EQ(test_media::ReadFile(root / "victim"), "keep\n");
        }
        if (row.files == kOurFiles) {
            for (const auto &[file, contents] : row.files)
                EXPECT_EQ(fs::status(root / file).permissions(), fs::perms(0644)) << file;
        }
    }
    // Nothing of the caller's environment reaches modprobe.
    EXPECT_EQ(camera_helper::ModprobeEnvironment(), Args{"PATH=/usr/sbin:/usr/bin:/sbin:/bin"});
}

} // namespace
