#pragma once

#include <chrono>
#include <filesystem>

// Whether the virtual camera is known to the system, and the privileged tool
// that registers or unregisters it. No Qt here, so it can be tested alone and
// cross-built for Windows.
//
// Windows: the camera is registered when softcam's filter class key exists;
// the tool is regsvr32, started elevated for the softcam.dll beside the
// executable.
// Linux: the camera is registered when a v4l2loopback device labelled
// "Vidloom" exists; the tool is vidloom-camera-helper, started through
// pkexec, which loads or unloads v4l2loopback.
namespace camera_registration {

// True when the camera is registered right now.
bool IsRegistered();

// Runs the tool (asking for administrator rights) to register, or with
// unregister set to unregister, the camera. Blocks the caller. True only
// when the tool ran and exited with code 0 within 10 seconds; a tool still
// running then counts as failed and is left to finish on its own. A missing
// tool or camera library fails at once without starting anything.
bool RunTool(bool unregister);

// ---- Test hooks (Linux only; never called by the app) ----------------------

// Reads devices under this directory instead of /sys.
void SetSysfsRootForTesting(const std::filesystem::path &root);

// Runs this program instead of the helper. It is started directly with the
// caller's rights, never through pkexec, so an override can never make
// anything run as root.
void SetHelperPathForTesting(const std::filesystem::path &helper);

// Waits this long instead of 10 seconds.
void SetTimeoutForTesting(std::chrono::milliseconds timeout);

// Back to the real sysfs, the real helper through pkexec and 10 seconds.
void ResetForTesting();

} // namespace camera_registration
