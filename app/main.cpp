// Entry point of Tarnwick-Setup. Until the front-end flows land it only shows
// the banner.
#include <cstdio>

#include "support/layout.h"

int main() {
    std::fputs("============================================\n", stdout);
    std::fputs("  Tarnwick Setup  ", stdout);
    std::fputs(tarncore::kSetupVersion, stdout);
    std::fputs("\n============================================\n\n", stdout);
    return 0;
}
