// Replays the inputs that a fuzz target once failed on, without the fuzzer: linked with the
// target's own source, it hands the target each file of the folders or the files named on its
// command line, in name order, as libFuzzer would hand it one input. A failure of the target
// (an abort, a crash, a sanitizer's report) ends the program with it; the name of the input
// stands last in the output. A folder without any input is an error, so that a wrong path is
// never a pass.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

// The regular files named, a folder standing for the regular files directly in it.
bool collect(const fs::path& path, std::vector<fs::path>& inputs) {
    std::error_code error;
    if (fs::is_regular_file(path, error)) {
        inputs.push_back(path);
        return true;
    }
    if (!fs::is_directory(path, error)) return false;
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(path, error))
        if (entry.is_regular_file(error)) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    inputs.insert(inputs.end(), files.begin(), files.end());
    return !files.empty();
}

std::string read_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        if (!collect(argv[i], inputs)) {
            std::fprintf(stderr, "no input to replay in %s\n", argv[i]);
            return 2;
        }
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "usage: %s FOLDER_OR_FILE...\n", argc > 0 ? argv[0] : "replay");
        return 2;
    }
    LLVMFuzzerInitialize(&argc, &argv);
    for (const fs::path& input : inputs) {
        std::printf("replaying %s\n", input.string().c_str());
        std::fflush(stdout);
        const std::string bytes = read_bytes(input);
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
    std::printf("%s inputs replayed\n", std::to_string(inputs.size()).c_str());
    return 0;
}
