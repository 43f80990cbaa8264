// The Windows half of the harness (under Wine, with the host's programs).
#include <algorithm>
#include <vector>

#include "support/win32.h"
#include "tests/common/install_sandbox.h"
#include "tests/common/test_server.h"

#include <shellapi.h>
#include <wincrypt.h>

namespace tarntest {
namespace {

template <typename Function>
Function wine_export(const wchar_t* module, const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(module), name)));
}

}  // namespace

Path host_path(const std::string& unix_path) {
    std::string p = "Z:" + unix_path;
    std::replace(p.begin(), p.end(), '/', '\\');
    return Path(tarncore::native_from_text(p));
}

Path test_tool(const std::string& name) {
    return host_path(std::string(TARN_TEST_TOOLS_DIR) + "/" + name + ".exe");
}

void set_folder_read_only(const Path& path, bool read_only) {
    const std::string host = unix_path(path);
    if (host.empty()) return;  // real Windows: nothing to do without ACLs
    (void)run_host_program({"/bin/chmod", read_only ? "a-w" : "u+w", host});
}

bool make_link(const Path& link, const Path& target) {
    const std::string parent = unix_path(link.parent_path());
    return run_host_program({"/bin/ln", "-s", unix_path(target),
                             parent + "/" + tarncore::path_text(link.filename())}) == 0;
}

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

int run_host_program(std::vector<std::string> argv, bool wait) {
    using Spawn = LONG(__cdecl*)(char* const*, int);
    static const auto spawn = wine_export<Spawn>(L"ntdll.dll", "__wine_unix_spawnvp");
    if (spawn == nullptr || argv.empty()) return -1;
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    return static_cast<int>(spawn(args.data(), wait ? TRUE : FALSE));
}

// Pending deletions are listed as "\??\<path>" followed by an empty target;
// the test prefix never restarts, so the list only grows.
bool deletion_scheduled(const Path& path) {
    std::vector<wchar_t> data(1 << 20);
    auto size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager",
                     L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr, data.data(),
                     &size) != ERROR_SUCCESS) {
        return false;
    }
    const std::wstring wanted = L"\\??\\" + path.wstring();
    const wchar_t* end = data.data() + size / sizeof(wchar_t);
    for (const wchar_t* s = data.data(); s < end; s += wcslen(s) + 1) {
        if (_wcsicmp(s, wanted.c_str()) == 0) return true;
    }
    return false;
}

// The user Root store of the private prefix: Wine adds to it without a dialog.
bool trust_test_ca(const std::string& cert_dir) {
    const std::string der = file_bytes(host_path(cert_dir + "/ca.der"));
    return CertAddEncodedCertificateToSystemStoreA(
        "ROOT", reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size()));
}

// Each run makes a new CA; take it out again so the prefix does not collect them.
// Wine's "ROOT" system store is a merged view that refuses deletion, so go to
// the registry store underneath.
void untrust_test_ca(const std::string& cert_dir) {
    const std::string der = file_bytes(host_path(cert_dir + "/ca.der"));
    PCCERT_CONTEXT ca =
        CertCreateCertificateContext(X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                     static_cast<DWORD>(der.size()));
    if (!ca) return;
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0,
                                     CERT_SYSTEM_STORE_CURRENT_USER, L"ROOT");
    if (store) {
        PCCERT_CONTEXT found = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0,
                                                          CERT_FIND_EXISTING, ca, nullptr);
        if (found) CertDeleteCertificateFromStore(found);  // frees `found`
        CertCloseStore(store, 0);
    }
    CertFreeCertificateContext(ca);
}

}  // namespace tarntest
