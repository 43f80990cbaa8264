// Standard output and error of the test process collected while the object
// lives: the flows and the download meter print there.
#pragma once

#include <iostream>
#include <sstream>

namespace tarntest {

struct CapturedConsole {
    std::stringbuf out, err;
    std::streambuf* old_out = std::cout.rdbuf(&out);
    std::streambuf* old_err = std::cerr.rdbuf(&err);
    ~CapturedConsole() { release(); }
    /// Puts the real streams back (also done at scope exit).
    void release() {
        if (old_out) std::cout.rdbuf(old_out);
        if (old_err) std::cerr.rdbuf(old_err);
        old_out = old_err = nullptr;
    }
};

}  // namespace tarntest
