// Another setup for the lock tests: takes the user's setup lock (its file in
// the folder of the third argument on POSIX), writes the file named by its
// first argument, and holds the lock for the milliseconds of its second.
#include <chrono>
#include <string>
#include <thread>

#include "support/layout.h"

int main(int argc, char** argv) {
    if (argc < 4 || tarncore::take_setup_lock(argv[3], 0) != tarncore::LockState::kTaken) return 1;
    if (!tarncore::write_file(tarncore::Path(tarncore::native_from_text(argv[1])), "held"))
        return 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(argv[2])));
    return 0;
}
