// Replays saved fuzz inputs without libFuzzer: every file in the directories
// named on the command line goes through LLVMFuzzerTestOneInput once, in name
// order. The entry point aborts on a wrong answer; the sanitizers catch the
// rest.
#include <stdint.h>
#include <stdio.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace fs = std::filesystem;

int main(int argc, char **argv) {
    size_t replayed = 0;
    for (int a = 1; a < argc; a++) {
        std::error_code error;
        std::vector<fs::path> files;
        for (fs::directory_iterator it(argv[a], error), end; !error && it != end; it.increment(error))
            if (it->is_regular_file() && it->path().filename().string()[0] != '.') files.push_back(it->path());
        if (error) {
            fprintf(stderr, "%s: %s\n", argv[a], error.message().c_str());
            return 1;
        }
        std::sort(files.begin(), files.end());
        for (const fs::path &file : files) {
            std::ifstream in(file, std::ios::binary);
            std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            if (!in.eof() && in.fail()) {
                fprintf(stderr, "%s: cannot read\n", file.c_str());
                return 1;
            }
            // An exact-size copy, as libFuzzer hands it over, so a read one
            // byte past the input is caught.
            std::unique_ptr<uint8_t[]> data(new uint8_t[bytes.size()]);
            if (!bytes.empty()) memcpy(data.get(), bytes.data(), bytes.size());
            fprintf(stderr, "%s\n", file.c_str());
            LLVMFuzzerTestOneInput(data.get(), bytes.size());
            replayed++;
        }
    }
    printf("replayed %zu inputs\n", replayed);
    return replayed ? 0 : 1;
}
