#pragma once

#include "camera_helper.h"

namespace camera_helper {

// The real kernel: runs the system's modprobe by its absolute path.
class ModprobeSystem : public System {
public:
    bool Modprobe(const std::vector<std::string> &args) override;
};

// The whole environment modprobe gets. Fixed, because modprobe honours
// variables such as MODPROBE_OPTIONS that would let a caller choose its
// configuration.
std::vector<std::string> ModprobeEnvironment();

} // namespace camera_helper
