// vidloom-camera-helper: started as root through pkexec by the Vidloom app
// to register or unregister its camera. Takes "register" or "unregister"
// and nothing else.
#include "camera_helper.h"
#include "modprobe_system.h"

#include <cstdlib>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    // Nothing of the caller's environment reaches this process's decisions
    // or its children; pkexec clears most of it, this clears the rest.
    clearenv();
    umask(022);
    if (chdir("/") != 0)
        return camera_helper::kFileFailed;
    if (geteuid() != 0) {
        std::cerr << "vidloom-camera-helper: must run as root (the Vidloom app starts it through pkexec).\n";
        return camera_helper::kUsageError;
    }
    camera_helper::ModprobeSystem system;
    return camera_helper::Main(argc, argv, "/", system, std::cerr);
}
