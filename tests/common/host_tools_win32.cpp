#include "tests/common/host_tools.h"

#include "support/win32.h"

#include <shellapi.h>

namespace tarntest {
namespace {

template <typename Function>
Function wine_export(const wchar_t* module, const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(module), name)));
}

}  // namespace

std::string unix_path(const tarncore::Path& path) {
    using UnixName = char*(__cdecl*)(const wchar_t*);
    static const auto unix_name = wine_export<UnixName>(L"kernel32.dll", "wine_get_unix_file_name");
    if (unix_name == nullptr) return {};
    char* name = unix_name(path.c_str());
    if (name == nullptr) return {};
    std::string out(name);
    HeapFree(GetProcessHeap(), 0, name);
    return out;
}

std::vector<tarncore::Path> program_arguments(int, char**) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<tarncore::Path> out(argv + (argc > 0 ? 1 : 0), argv + argc);
    LocalFree(argv);
    return out;
}

int run_host_program(const std::vector<std::string>& argv, bool wait) {
    using Spawn = LONG(__cdecl*)(char* const*, int);
    static const auto spawn = wine_export<Spawn>(L"ntdll.dll", "__wine_unix_spawnvp");
    if (spawn == nullptr || argv.empty()) return -1;
    std::vector<std::string> text(argv);
    std::vector<char*> args;
    for (std::string& a : text) args.push_back(a.data());
    args.push_back(nullptr);
    return static_cast<int>(spawn(args.data(), wait ? TRUE : FALSE));
}

}  // namespace tarntest
