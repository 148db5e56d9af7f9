// Writes a generated setup file: corvane_gensetup FILE [CONTACTS]
#include "bench/setup/SetupGenerator.h"

#include <cstdio>
#include <cstdlib>
#include <exception>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [CONTACTS]\n", argv[0]);
        return 2;
    }
    const int contacts = argc > 2 ? std::atoi(argv[2]) : 10000;
    try {
        GenerateSetup(contacts)->SaveToFile(argv[1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
