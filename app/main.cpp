#include "app/Version.h"

#include <cstdio>

int main() {
    // The main window comes later; until then the program only tells what it is.
    std::printf("%s %s\n", CORVANE_PRODUCT_NAME, CORVANE_VERSION);
    return 0;
}
