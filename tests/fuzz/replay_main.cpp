// Runs the fuzzing harness once over each file of the folders or files
// given: the seed corpus and the inputs the fuzzer once found, in every
// build, with the sanitizers where the build has them.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    size_t runs = 0;
    for (int i = 1; i < argc; ++i) {
        std::vector<fs::path> inputs;
        if (!fs::exists(argv[i])) {
            std::fprintf(stderr, "%s: no such file or folder\n", argv[i]);
            return 1;
        }
        if (fs::is_directory(argv[i]))
            for (const fs::directory_entry& e : fs::directory_iterator(argv[i]))
                inputs.push_back(e.path());
        else
            inputs.emplace_back(argv[i]);
        for (const fs::path& input : inputs) {
            std::ifstream in(input, std::ios::binary);
            const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
            ++runs;
        }
    }
    std::printf("%zu inputs ran\n", runs);
    return runs > 0 ? 0 : 1;
}
