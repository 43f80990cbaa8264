// Makes the Wine prefix it runs in trust the test CA of a certificate folder
// (a Unix path, as test_server.py certs made it), as Windows would.
#include "tests/common/test_server.h"

int main(int argc, char** argv) {
    return argc == 2 && tarntest::trust_test_ca(argv[1]) ? 0 : 1;
}
