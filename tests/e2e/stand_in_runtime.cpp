// A stand-in for the runtime, built into the setup for scripts/run.sh and the
// end-to-end tests so that the installed command visibly answers. Standard
// library only: it is embedded in the program, so it links nothing of it.
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    const char* command = argc > 1 ? argv[1] : "help";
    if (std::strcmp(command, "--version") == 0 || std::strcmp(command, "version") == 0) {
        std::puts("tarn 1.0.0 (stand-in runtime for tests)");
        return 0;
    }
    if (std::strcmp(command, "help") == 0 || std::strcmp(command, "--help") == 0) {
        std::puts(
            "Usage: tarn <command>\n\n"
            "  --version   print the version\n"
            "  help        print this text\n\n"
            "This is a stand-in for the Tarnwick runtime; it runs no bots.");
        return 0;
    }
    std::fprintf(stderr, "tarn: unknown command '%s' (stand-in runtime)\n", command);
    return 2;
}
