// Runs every file under the folders given through a fuzz target once: the
// kept corpus, seeds and past failures, as a test of every build.
#include "test_media.h"

#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv)
{
    int count = 0;
    for (int i = 1; i < argc; ++i)
        for (const auto &entry : std::filesystem::recursive_directory_iterator(argv[i])) {
            const std::string bytes = test_media::ReadFile(entry.path());
            const auto *data = reinterpret_cast<const uint8_t *>(bytes.data());
            count += entry.is_regular_file() && LLVMFuzzerTestOneInput(data, bytes.size()) == 0;
        }
    std::printf("%d inputs\n", count);
    return count > 0 ? 0 : 1;
}
