// orvalink-kconv [-B] [-m] [-s] IN OUT: converts one mail message file to Shift-JIS with CR LF
// line ends, as the filing of received mail does. Exit status 0 when done, 1 on failure.
#include "kanji/KanjiConverter.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    using namespace orvalink;
    const std::vector<std::string> args(argv, argv + argc);
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: orvalink-kconv [-B] [-m] [-s] INPUT OUTPUT\n");
        return 2;
    }
    if (kanji::convertFile(args) != 0) {
        std::fprintf(stderr, "orvalink-kconv: cannot convert %s to %s\n", args[args.size() - 2].c_str(),
                     args[args.size() - 1].c_str());
        return 1;
    }
    return 0;
}
