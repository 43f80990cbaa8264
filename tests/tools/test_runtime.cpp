// Stands in for a running bot in tests: started from bin\tarn.exe, it holds
// that file open as a bot does, and ends by itself after the seconds of its
// argument so no test leaves it behind.
#include <chrono>
#include <string>
#include <thread>

int main(int argc, char** argv) {
    std::this_thread::sleep_for(std::chrono::seconds(argc > 1 ? std::stoi(argv[1]) : 0));
}
