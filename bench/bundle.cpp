// Packs files and folders into one stored ZIP archive the way a selection is bundled:
//   bench_bundle -o OUT.zip PATH...
// Used by bench/bundle.sh to time the writer while korvo-cli is not built.
#include "core/FilePreparationService.h"

#include <cstdio>
#include <cstring>
#include <exception>

int main(int argc, char** argv)
{
    if (argc < 4 || std::strcmp(argv[1], "-o") != 0) {
        std::fprintf(stderr, "usage: %s -o OUT.zip PATH...\n", argv[0]);
        return 2;
    }
    QStringList paths;
    for (int i = 3; i < argc; ++i)
        paths << QString::fromLocal8Bit(argv[i]);
    try {
        FilePreparationService::writeBundle(paths, QString::fromLocal8Bit(argv[2]));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
