// How a session is opened for each connection mode, and the user's IE proxy settings.
#include "download/http_downloader.h"

#include "win/wide_string.h"

namespace {

void FreeIfSet(LPWSTR text) {
  if (text != nullptr) ::GlobalFree(text);
}

}  // namespace

void HttpDownloader::ReleaseIeProxyConfig(WINHTTP_CURRENT_USER_IE_PROXY_CONFIG* config) noexcept {
  if (config == nullptr) return;
  FreeIfSet(config->lpszAutoConfigUrl);
  FreeIfSet(config->lpszProxy);
  FreeIfSet(config->lpszProxyBypass);
  ::HeapFree(::GetProcessHeap(), 0, config);
}

bool HttpDownloader::LoadIeProxyConfig() {
  auto* fresh = static_cast<WINHTTP_CURRENT_USER_IE_PROXY_CONFIG*>(
      ::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(WINHTTP_CURRENT_USER_IE_PROXY_CONFIG)));
  if (fresh == nullptr) return false;
  if (!::WinHttpGetIEProxyConfigForCurrentUser(fresh)) {
    ::HeapFree(::GetProcessHeap(), 0, fresh);
    return false;
  }
  ReleaseIeProxyConfig(ie_proxy_config_);
  ie_proxy_config_ = fresh;
  return true;
}

HINTERNET HttpDownloader::OpenSession(const wchar_t* user_agent, int32_t mode, const wchar_t* url) {
  switch (mode) {
    case kModeDirect:
      return ::WinHttpOpen(user_agent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                           WINHTTP_NO_PROXY_BYPASS, 0);
    case kModeDefaultProxy:
      return ::WinHttpOpen(user_agent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                           WINHTTP_NO_PROXY_BYPASS, 0);
    case kModeNamedProxy: {
      WideString proxy = WideString::Format(L"%s:%d", NamedProxySettings.host, NamedProxySettings.port);
      return ::WinHttpOpen(user_agent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxy.c_str(), L"<local>", 0);
    }
    case kModeIeProxy:
      break;
    default:
      return nullptr;
  }

  // Mode 3 needs a proxy server entered by hand in the user's settings.
  if (ie_proxy_config_ == nullptr || ie_proxy_config_->lpszProxy == nullptr) {
    if (!LoadIeProxyConfig()) return nullptr;
    if (ie_proxy_config_ == nullptr || ie_proxy_config_->lpszProxy == nullptr) return nullptr;
  }
  HINTERNET session = ::WinHttpOpen(user_agent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, ie_proxy_config_->lpszProxy,
                                    ie_proxy_config_->lpszProxyBypass, 0);
  if (session == nullptr || !ie_proxy_config_->fAutoDetect) return session;

  // Detection asked for: the auto-config script first, then DHCP and DNS discovery. What is
  // found replaces the entered proxy for this session; nothing found keeps it.
  WINHTTP_AUTOPROXY_OPTIONS options = {};
  options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
  options.lpszAutoConfigUrl = ie_proxy_config_->lpszAutoConfigUrl;
  options.fAutoLogonIfChallenged = TRUE;
  WINHTTP_PROXY_INFO info = {};
  BOOL found = ::WinHttpGetProxyForUrl(session, url, &options, &info);
  if (!found) {
    options = {};
    options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
    options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    options.fAutoLogonIfChallenged = TRUE;
    info = {};
    found = ::WinHttpGetProxyForUrl(session, url, &options, &info);
  }
  if (!found) return session;
  // The discovered proxy replaces the entered one for this attempt. Setting it on the open
  // session (WINHTTP_OPTION_PROXY) is what Windows offers, but Wine 8 ignores that option,
  // so a session is opened afresh with it; on Windows the two come to the same.
  const bool direct = info.dwAccessType == WINHTTP_ACCESS_TYPE_NO_PROXY || info.lpszProxy == nullptr;
  HINTERNET replaced = direct ? ::WinHttpOpen(user_agent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                              WINHTTP_NO_PROXY_BYPASS, 0)
                              : ::WinHttpOpen(user_agent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, info.lpszProxy,
                                              info.lpszProxyBypass, 0);
  if (replaced == nullptr) {
    // Could not open one: the session of the entered proxy takes the option instead.
    ::WinHttpSetOption(session, WINHTTP_OPTION_PROXY, &info, sizeof(info));
  } else {
    ::WinHttpCloseHandle(session);
    session = replaced;
  }
  FreeIfSet(info.lpszProxy);
  FreeIfSet(info.lpszProxyBypass);
  return session;
}
