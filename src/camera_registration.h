#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// Whether the virtual camera is known to the system, and the privileged tool
// that registers or unregisters it. No Qt here, so it can be tested alone and
// cross-built for Windows.
//
// Windows: the camera is registered when softcam's filter class key exists;
// the tool is regsvr32, started elevated for the softcam.dll beside the
// executable, and waited for (RunTool).
// Linux: the camera is registered when a v4l2loopback device labelled
// "Vidloom" exists; the tool is vidloom-camera-helper at its installed path,
// started through pkexec (ToolCommand), which the window runs without
// waiting for it.
namespace camera_registration {

// True when the camera is registered right now.
bool IsRegistered();

// How the tool ended, as the window reports it. pkexec exits with 126 when
// the user dismissed its dialog; neither the helper nor regsvr32 as we run
// it uses that code.
enum class Outcome { Succeeded, Cancelled, Failed };
inline Outcome OutcomeOf(int exitCode)
{
    if (exitCode == 0)
        return Outcome::Succeeded;
    return exitCode == 126 ? Outcome::Cancelled : Outcome::Failed;
}

#ifdef _WIN32
// Runs regsvr32 elevated and blocks the caller. True only when it ran and
// exited with code 0 within 10 seconds; a tool still running then counts as
// failed and is left to finish on its own. A missing camera library fails
// at once without starting anything.
bool RunTool(bool unregister);
#else
// The folder the window watches to notice the camera come and go.
std::filesystem::path DeviceFolder();

struct Command {
    std::string program;
    std::vector<std::string> arguments;
};

// The command that registers (or with unregister set, unregisters) the
// camera, or nothing with a one-sentence reason when it must not run: no
// pkexec, no helper, or a helper that someone other than root could have
// replaced. The operation is one of two fixed words.
std::optional<Command> ToolCommand(bool unregister, std::string &reason);

// True when path, with symlinks resolved, and every folder above it up to
// top are owned by owner and writable by nobody else; otherwise false with
// the reason.
bool IsTrustedPath(const std::filesystem::path &path, unsigned owner, std::string &reason,
                   const std::filesystem::path &top = "/");

// The sentence to show after a failure: the helper's line on stderr, or
// else the tool's first line,
// trimmed to one line and a sane length, ending with a full stop.
std::string FailureReason(const std::string &toolStderr);
#endif

// ---- Test hooks (Linux only; never called by the app) ----------------------

// Reads devices under this directory instead of /sys.
void SetSysfsRootForTesting(const std::filesystem::path &root);

// Runs this program instead of the helper. It is started directly with the
// caller's rights, never through pkexec, so an override can never make
// anything run as root.
void SetHelperPathForTesting(const std::filesystem::path &helper);

// Back to the real sysfs and the real helper through pkexec.
void ResetForTesting();

} // namespace camera_registration
