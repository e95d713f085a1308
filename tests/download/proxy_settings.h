// Where Wine's WinHTTP reads the proxy settings, written the way it reads them.
//  - The machine's default proxy (mode 2): HKLM "...\Internet Settings\Connections" value
//    "WinHttpSettings": DWORD 0x18, DWORD 0, DWORD flags (2 = a proxy), then the proxy and the
//    bypass list, each as a DWORD length and ASCII text. (Wine also reads http_proxy; the
//    test run unsets it.)
//  - The user's IE settings (mode 3): HKCU "...\Internet Settings\Connections" value
//    "DefaultConnectionSettings": DWORD 0x46, DWORD counter, DWORD flags (1 direct, 2 proxy,
//    4 auto-config URL, 8 auto-detect), then proxy, bypass list and auto-config URL, each as
//    a DWORD length and ASCII text. Wine ignores ProxyEnable, ProxyServer, ProxyOverride and
//    AutoConfigURL, which Windows also reads.
// Both are written by this 32-bit test program, in the view the 32-bit installer reads.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace test {

constexpr wchar_t kConnectionsKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";

enum IeFlags : DWORD { kIeDirect = 1, kIeProxy = 2, kIeAutoConfigUrl = 4, kIeAutoDetect = 8 };

inline void AppendText(std::vector<BYTE>* blob, const std::string& text) {
  const DWORD length = static_cast<DWORD>(text.size());
  blob->insert(blob->end(), reinterpret_cast<const BYTE*>(&length), reinterpret_cast<const BYTE*>(&length) + 4);
  blob->insert(blob->end(), text.begin(), text.end());
}

inline void AppendWord(std::vector<BYTE>* blob, DWORD value) {
  blob->insert(blob->end(), reinterpret_cast<const BYTE*>(&value), reinterpret_cast<const BYTE*>(&value) + 4);
}

inline void WriteBlob(HKEY root, const wchar_t* name, const std::vector<BYTE>& blob) {
  HKEY key;
  if (::RegCreateKeyExW(root, kConnectionsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
    ::RegSetValueExW(key, name, 0, REG_BINARY, blob.data(), static_cast<DWORD>(blob.size()));
    ::RegCloseKey(key);
  }
}

inline void SetDefaultProxy(const std::string& proxy, const std::string& bypass = "") {
  std::vector<BYTE> blob;
  AppendWord(&blob, 0x18);
  AppendWord(&blob, 0);
  AppendWord(&blob, proxy.empty() ? 1 : 2);
  AppendText(&blob, proxy);
  AppendText(&blob, bypass);
  WriteBlob(HKEY_LOCAL_MACHINE, L"WinHttpSettings", blob);
}

inline void SetIeSettings(DWORD flags, const std::string& proxy, const std::string& bypass = "",
                          const std::string& auto_config_url = "") {
  static DWORD counter = 1;
  std::vector<BYTE> blob;
  AppendWord(&blob, 0x46);
  AppendWord(&blob, counter++);
  AppendWord(&blob, flags);
  AppendText(&blob, proxy);
  AppendText(&blob, bypass);
  AppendText(&blob, auto_config_url);
  blob.resize(blob.size() + 32, 0);
  WriteBlob(HKEY_CURRENT_USER, L"DefaultConnectionSettings", blob);
}

inline void ClearProxySettings() {
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    HKEY key;
    if (::RegOpenKeyExW(root, kConnectionsKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
      ::RegDeleteValueW(key, root == HKEY_LOCAL_MACHINE ? L"WinHttpSettings" : L"DefaultConnectionSettings");
      ::RegCloseKey(key);
    }
  }
}

}  // namespace test
