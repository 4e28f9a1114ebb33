// Feeds every file under the folder given (the seeds and the crashes found
// so far) to the harness linked with it, in the host build's sanitizers.
#include "tests/fuzz/fuzz.h"

#include <filesystem>
#include <fstream>
#include <iterator>

int main(int argc, char** argv)
{
    int inputs = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(argc > 1 ? argv[1] : "", error)) {
        if (!entry.is_regular_file())
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        fprintf(stderr, "replay: %s\n", entry.path().c_str());
        LLVMFuzzerTestOneInput(data.data(), data.size());
        inputs++;
    }
    printf("replay: %d inputs\n", inputs);
    return inputs ? 0 : 1;  // an empty corpus would pass without testing anything
}
