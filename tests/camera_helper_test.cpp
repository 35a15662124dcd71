#include "camera_helper.h"
#include "modprobe_system.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace fs = std::filesystem;
using camera_helper::Command;
using Args = std::vector<std::string>;

namespace {

const Args kLoad{"v4l2loopback", "devices=1", "exclusive_caps=1", "card_label=Vidloom"};
const Args kUnload{"-r", "v4l2loopback"};

std::string readFile(const fs::path &path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The kernel as sysfs shows it, below a temporary root.
class FakeKernel : public camera_helper::System {
public:
    explicit FakeKernel(fs::path root) : root_(std::move(root)) {}

    bool Modprobe(const Args &args) override
    {
        calls.push_back(args);
        if (args == kLoad && loads) {
            fs::create_directories(root_ / "sys/module/v4l2loopback");
            if (makesDevice)
                addDevice("video4", "Vidloom");
            return true;
        }
        if (args == kUnload && unloads) {
            fs::remove_all(root_ / "sys/module/v4l2loopback");
            for (const auto &entry : fs::directory_iterator(root_ / "sys/class/video4linux"))
                if (fs::exists(entry.path() / "max_openers"))
                    fs::remove_all(entry.path());
            return true;
        }
        return false;
    }

    void addDevice(const std::string &node, const std::string &label, bool loopback = true)
    {
        const fs::path dir = root_ / "sys/class/video4linux" / node;
        fs::create_directories(dir);
        std::ofstream(dir / "name") << label << "\n";
        if (loopback)
            std::ofstream(dir / "max_openers") << "10\n";
    }
    void loadFor(const std::string &label)
    {
        fs::create_directories(root_ / "sys/module/v4l2loopback");
        if (!label.empty())
            addDevice("video9", label);
    }

    bool loads = true;
    bool makesDevice = true;
    bool unloads = true;
    std::vector<Args> calls;

private:
    fs::path root_;
};

fs::path makeRoot()
{
    std::string pattern = (fs::temp_directory_path() / "vidloom-helper-XXXXXX").string();
    const fs::path root = mkdtemp(pattern.data());
    fs::create_directories(root / "sys/class/video4linux");
    return root;
}

class HelperTest : public ::testing::Test {
protected:
    ~HelperTest() override { fs::remove_all(root); }

    int run(Args words)
    {
        words.insert(words.begin(), "vidloom-camera-helper");
        std::vector<const char *> argv;
        for (const std::string &w : words)
            argv.push_back(w.c_str());
        argv.push_back(nullptr);
        err.str("");
        return camera_helper::Main(static_cast<int>(words.size()), argv.data(), root, kernel, err);
    }

    fs::path modprobeConf() const { return root / camera_helper::kModprobeConfFile; }
    fs::path modulesLoad() const { return root / camera_helper::kModulesLoadFile; }

    // Every file under <root>/etc, relative to the root.
    std::vector<std::string> etcFiles() const
    {
        std::vector<std::string> files;
        if (fs::exists(root / "etc"))
            for (const auto &entry : fs::recursive_directory_iterator(root / "etc"))
                if (!entry.is_directory())
                    files.push_back(fs::relative(entry.path(), root).string());
        std::sort(files.begin(), files.end());
        return files;
    }

    const fs::path root = makeRoot();
    FakeKernel kernel{root};
    std::ostringstream err;
};

TEST(CommandLineTest, AcceptsOnlyTheTwoFixedWords)
{
    const char *reg[] = {"helper", "register", nullptr};
    const char *unreg[] = {"helper", "unregister", nullptr};
    EXPECT_EQ(camera_helper::ParseCommandLine(2, reg), Command::Register);
    EXPECT_EQ(camera_helper::ParseCommandLine(2, unreg), Command::Unregister);
    EXPECT_EQ(camera_helper::ParseCommandLine(0, nullptr), std::nullopt);
}

TEST_F(HelperTest, RefusedCommandLinesTouchNothing)
{
    const std::vector<Args> refused = {
        {},
        {"register", "unregister"},
        {"register", "card_label=Evil"},
        {"Register"},
        {"register "},
        {""},
        {"/etc/modprobe.d/evil.conf"},
        {"--root=/tmp", "register"},
        {"-r"},
        {"--help"},
    };
    for (const Args &words : refused) {
        EXPECT_EQ(run(words), camera_helper::kUsageError) << ::testing::PrintToString(words);
        EXPECT_NE(err.str().find("usage:"), std::string::npos);
    }
    EXPECT_TRUE(kernel.calls.empty());
    EXPECT_TRUE(etcFiles().empty());
}

TEST_F(HelperTest, CallerEnvironmentReachesNeitherTheHelperNorModprobe)
{
    setenv("MODPROBE_OPTIONS", "-C /tmp/evil.conf", 1);
    setenv("VIDLOOM_ROOT", "/tmp", 1);
    EXPECT_EQ(run({"register"}), camera_helper::kSuccess);
    unsetenv("MODPROBE_OPTIONS");
    unsetenv("VIDLOOM_ROOT");
    EXPECT_EQ(kernel.calls, std::vector<Args>{kLoad});
    EXPECT_EQ(camera_helper::ModprobeEnvironment(), Args{"PATH=/usr/sbin:/usr/bin:/sbin:/bin"});
}

TEST_F(HelperTest, RegisterWritesExactlyOurTwoFilesAndLoadsTheModule)
{
    EXPECT_EQ(run({"register"}), camera_helper::kSuccess) << err.str();
    EXPECT_EQ(etcFiles(), (Args{"etc/modprobe.d/vidloom.conf", "etc/modules-load.d/vidloom.conf"}));
    EXPECT_EQ(readFile(modprobeConf()), "options v4l2loopback devices=1 exclusive_caps=1 card_label=Vidloom\n");
    EXPECT_EQ(readFile(modulesLoad()), "v4l2loopback\n");
    for (const fs::path &file : {modprobeConf(), modulesLoad()})
        EXPECT_EQ(fs::status(file).permissions(), fs::perms(0644));
    EXPECT_EQ(kernel.calls, std::vector<Args>{kLoad});

    // Again: already there, nothing reloaded.
    EXPECT_EQ(run({"register"}), camera_helper::kSuccess);
    EXPECT_EQ(kernel.calls.size(), 1u);
    EXPECT_EQ(etcFiles().size(), 2u);
}

TEST_F(HelperTest, FilesAreReplacedNotWrittenThrough)
{
    fs::create_directories(modprobeConf().parent_path());
    std::ofstream(modprobeConf()) << "old\n";
    fs::create_hard_link(modprobeConf(), root / "old-link");
    const fs::path victim = root / "victim";
    std::ofstream(victim) << "keep\n";
    fs::create_directories(modulesLoad().parent_path());
    fs::create_symlink(victim, modulesLoad());

    ASSERT_EQ(run({"register"}), camera_helper::kSuccess) << err.str();
    EXPECT_EQ(readFile(root / "old-link"), "old\n") << "a new file, renamed into place";
    EXPECT_EQ(readFile(victim), "keep\n");
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(modulesLoad())));
    EXPECT_EQ(etcFiles().size(), 2u) << "no temporary file left";
}

TEST_F(HelperTest, RegisterLeavesAnotherProgramsModuleAlone)
{
    kernel.loadFor("Other Loopback");
    EXPECT_EQ(run({"register"}), camera_helper::kOtherProgramsDevices);
    EXPECT_NE(err.str().find("another program"), std::string::npos);
    kernel.loadFor(""); // loaded, and without our device, even with no devices at all
    fs::remove_all(root / "sys/class/video4linux/video9");
    EXPECT_EQ(run({"register"}), camera_helper::kOtherProgramsDevices);
    EXPECT_TRUE(kernel.calls.empty());
    EXPECT_TRUE(etcFiles().empty());

    // Already serving a Vidloom device beside others: registered as it is.
    kernel.addDevice("video2", "Vidloom");
    EXPECT_EQ(run({"register"}), camera_helper::kSuccess);
    EXPECT_TRUE(kernel.calls.empty());
}

TEST_F(HelperTest, ModuleThatCannotLoadIsReportedAndLeavesNoFiles)
{
    kernel.loads = false;
    EXPECT_EQ(run({"register"}), camera_helper::kModuleFailed);
    EXPECT_NE(err.str().find("could not load v4l2loopback"), std::string::npos);
    EXPECT_NE(err.str().find("Secure Boot"), std::string::npos);
    EXPECT_TRUE(etcFiles().empty());

    kernel.loads = true;
    kernel.makesDevice = false;
    EXPECT_EQ(run({"register"}), camera_helper::kModuleFailed);
    EXPECT_NE(err.str().find("no device labelled"), std::string::npos);
}

TEST_F(HelperTest, UnwritableConfigurationFailsBeforeLoading)
{
    fs::create_directories(root / "etc");
    std::ofstream(root / "etc/modprobe.d") << "not a directory\n";
    EXPECT_EQ(run({"register"}), camera_helper::kFileFailed);
    EXPECT_NE(err.str().find("could not write /etc/modprobe.d/vidloom.conf"), std::string::npos);
    EXPECT_TRUE(kernel.calls.empty());
}

TEST_F(HelperTest, UnregisterRemovesFilesAndUnloadsOnlyOurOwnModule)
{
    kernel.addDevice("video0", "Integrated Camera", /*loopback=*/false);
    ASSERT_EQ(run({"register"}), camera_helper::kSuccess);
    EXPECT_EQ(run({"unregister"}), camera_helper::kSuccess) << err.str();
    EXPECT_EQ(kernel.calls.back(), kUnload) << "a real camera is not v4l2loopback's";
    EXPECT_TRUE(etcFiles().empty());
    EXPECT_TRUE(fs::exists(root / "sys/class/video4linux/video0"));

    const size_t calls = kernel.calls.size();
    EXPECT_EQ(run({"unregister"}), camera_helper::kSuccess);
    EXPECT_EQ(kernel.calls.size(), calls) << "nothing loaded, nothing to unload";
}

TEST_F(HelperTest, UnregisterKeepsAModuleThatServesOthers)
{
    ASSERT_EQ(run({"register"}), camera_helper::kSuccess);
    kernel.addDevice("video5", "Other Loopback");
    EXPECT_EQ(run({"unregister"}), camera_helper::kOtherProgramsDevices);
    EXPECT_NE(err.str().find("stays loaded"), std::string::npos);
    EXPECT_EQ(kernel.calls, std::vector<Args>{kLoad});
    EXPECT_TRUE(etcFiles().empty()) << "our files go anyway";

    fs::remove_all(root / "sys/class/video4linux/video5");
    kernel.unloads = false;
    EXPECT_EQ(run({"unregister"}), camera_helper::kModuleFailed);
    EXPECT_NE(err.str().find("still using"), std::string::npos);
}

} // namespace
