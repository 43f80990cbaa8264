// Stands in for the runtime in tests: a real executable that can be started
// from bin\tarn.exe and left running, so its file is held open the way a
// running bot holds it. It ends by itself so no test leaves it behind.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <thread>

int main(int argc, char** argv) {
    int seconds = 0;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string_view(argv[i]) == "--stay") seconds = std::atoi(argv[i + 1]);
    }
    std::puts("tarn test runtime");
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    return 0;
}
