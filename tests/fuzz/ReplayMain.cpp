// Feeds every file of the given files or directories through the fuzz target once, so that the
// seeds and every crash input kept as a regression run in each ordinary build of the suite. A
// replay of nothing has tested nothing: a corpus without inputs fails. Hidden files (".keep") are
// no inputs.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace orvalink::test {

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

static void replay(const fs::path& file, int& count)
{
    std::ifstream in(file, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    ++count;
}

} // namespace orvalink::test

int main(int argc, char** argv)
{
    using namespace orvalink;
    using namespace orvalink::test;
    int count = 0;
    LLVMFuzzerTestOneInput(nullptr, 0);
    for (int i = 1; i < argc; ++i) {
        const fs::path p(argv[i]);
        if (fs::is_directory(p)) {
            for (const auto& e : fs::recursive_directory_iterator(p))
                if (e.is_regular_file() && e.path().filename().string().front() != '.')
                    replay(e.path(), count);
        } else if (fs::is_regular_file(p)) {
            replay(p, count);
        } else {
            std::fprintf(stderr, "no such corpus: %s\n", argv[i]);
            return 1;
        }
    }
    std::printf("replayed %d inputs\n", count);
    if (count == 0) {
        std::fprintf(stderr, "the corpus holds no inputs: add real seeds\n");
        return 1;
    }
    return 0;
}
