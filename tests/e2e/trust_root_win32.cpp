// Adds a certificate (DER file) to the user Root store of the Wine prefix it
// runs in, so the end-to-end prefix trusts the test CA as Windows would.
#include <fstream>
#include <iterator>
#include <vector>

#include "support/win32.h"

#include <wincrypt.h>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    std::ifstream in(argv[1], std::ios::binary);
    std::vector<char> der{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (der.empty()) return 1;
    return CertAddEncodedCertificateToSystemStoreA(
               "ROOT", reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size()))
               ? 0
               : 1;
}
