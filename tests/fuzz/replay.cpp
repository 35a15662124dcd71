// Runs every file under the folders given through a fuzz target once: the
// kept corpus, seeds and past failures, as a test of every build.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv)
{
    int count = 0;
    for (int i = 1; i < argc; ++i)
        for (const auto &entry : std::filesystem::recursive_directory_iterator(argv[i])) {
            std::ifstream in(entry.path(), std::ios::binary);
            const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
            count += entry.is_regular_file() && LLVMFuzzerTestOneInput(bytes.data(), bytes.size()) == 0;
        }
    std::printf("%d inputs\n", count);
    return count > 0 ? 0 : 1;
}
