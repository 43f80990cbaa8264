// The current user's proxy setting as WinHTTP reads it (the Connections
// record of Internet Settings), else the ProxyEnable / ProxyServer /
// ProxyOverride values beside it: Wine's WinHTTP reads only the record, and
// its settings tools write only the values.
#include "net/proxy.h"

#include "support/win32.h"

#include <winhttp.h>

#include <vector>

namespace tarncore {

namespace {

constexpr wchar_t kSettingsKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// Host lists and addresses: what is not ASCII cannot name a proxy this
// program reaches, so it is kept as '?' and matches nothing.
std::string ascii_of(const wchar_t* text) {
    std::string out;
    for (; text != nullptr && *text != L'\0'; ++text) {
        out += *text < 0x80 ? static_cast<char>(*text) : '?';
    }
    return out;
}

std::string settings_text(const wchar_t* name) {
    DWORD size = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, name, RRF_RT_REG_SZ, nullptr, nullptr,
                     &size) != ERROR_SUCCESS) {
        return {};
    }
    std::vector<wchar_t> text(size / sizeof(wchar_t) + 1, L'\0');
    if (RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, name, RRF_RT_REG_SZ, nullptr, text.data(),
                     &size) != ERROR_SUCCESS) {
        return {};
    }
    return ascii_of(text.data());
}

}  // namespace

SystemProxySetting system_proxy_setting() {
    SystemProxySetting setting;
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
    if (WinHttpGetIEProxyConfigForCurrentUser(&config)) {
        setting.automatic = config.fAutoDetect || config.lpszAutoConfigUrl != nullptr;
        setting.proxy = ascii_of(config.lpszProxy);
        setting.bypass = ascii_of(config.lpszProxyBypass);
        for (LPWSTR text : {config.lpszAutoConfigUrl, config.lpszProxy, config.lpszProxyBypass}) {
            if (text != nullptr) GlobalFree(text);
        }
    }
    DWORD enabled = 0;
    DWORD size = sizeof(enabled);
    if (setting.proxy.empty() &&
        RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, L"ProxyEnable", RRF_RT_REG_DWORD, nullptr,
                     &enabled, &size) == ERROR_SUCCESS &&
        enabled != 0) {
        setting.proxy = settings_text(L"ProxyServer");
        setting.bypass = settings_text(L"ProxyOverride");
    }
    return setting;
}

}  // namespace tarncore
