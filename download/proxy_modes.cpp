// How a session is opened for each connection mode, and the user's IE proxy settings.
#include "download/http_downloader.h"

#include <cwchar>
#include <cwctype>

#include "win/internet_handle.h"
#include "win/trace.h"
#include "win/unique_handle.h"
#include "win/wide_string.h"

namespace {

// The proxy of an attempt, for the log (null: none). Where the setting holds an '@' (a user
// name and password, which no proxy setting should hold, and which may hold anything), only
// what follows the last one is shown.
void TraceProxy(int32_t mode, const wchar_t* what, const wchar_t* proxy) {
  const wchar_t* at = proxy != nullptr ? wcsrchr(proxy, L'@') : nullptr;
  const wchar_t* shown = proxy == nullptr ? L"(none)" : at != nullptr ? at + 1 : proxy;
  DebugTrace(L"nMode: %d %s: %s", static_cast<int>(mode), what, shown);
}

}  // namespace

void HttpDownloader::ReleaseIeProxyConfig(WINHTTP_CURRENT_USER_IE_PROXY_CONFIG* config) noexcept {
  if (config == nullptr) return;
  win::UniqueHeapMemory block(config);
  // WinHTTP hands out its strings from the global heap.
  win::UniqueGlobalMemory auto_config_url(config->lpszAutoConfigUrl);
  win::UniqueGlobalMemory proxy(config->lpszProxy);
  win::UniqueGlobalMemory bypass(config->lpszProxyBypass);
}

bool HttpDownloader::LoadIeProxyConfig() {
  win::UniqueHeapMemory fresh(
      ::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(WINHTTP_CURRENT_USER_IE_PROXY_CONFIG)));
  if (!fresh) return false;
  if (!::WinHttpGetIEProxyConfigForCurrentUser(static_cast<WINHTTP_CURRENT_USER_IE_PROXY_CONFIG*>(fresh.get()))) {
    return false;
  }
  ReleaseIeProxyConfig(ie_proxy_config_);
  ie_proxy_config_ = static_cast<WINHTTP_CURRENT_USER_IE_PROXY_CONFIG*>(fresh.release());
  return true;
}

namespace {

// `text` (its first `length` characters) matches `pattern` ('*' any run), any case.
bool Matches(const wchar_t* pattern, size_t pattern_length, const wchar_t* text, size_t length) {
  if (pattern_length == 0) return length == 0;
  if (*pattern == L'*') {
    for (size_t skip = 0; skip <= length; ++skip) {
      if (Matches(pattern + 1, pattern_length - 1, text + skip, length - skip)) return true;
    }
    return false;
  }
  return length > 0 && towupper(*pattern) == towupper(*text) &&
         Matches(pattern + 1, pattern_length - 1, text + 1, length - 1);
}

// Whether the proxy `proxy` with the bypass list `bypass` serves `url` (a proxy is named and
// the URL's host is on no entry of the list). Entries it cannot read are taken to match: the
// answer may be "no" wrongly, never "yes".
bool ProxyServes(const wchar_t* proxy, const wchar_t* bypass, const wchar_t* url) {
  if (proxy == nullptr || proxy[0] == L'\0') return false;
  URL_COMPONENTS components = {};
  components.dwStructSize = sizeof(components);
  components.dwHostNameLength = static_cast<DWORD>(-1);
  if (url == nullptr || !::WinHttpCrackUrl(url, 0, 0, &components) || components.dwHostNameLength == 0) return false;
  const wchar_t* host = components.lpszHostName;
  const size_t host_length = components.dwHostNameLength;
  for (const wchar_t* entry = bypass; entry != nullptr && *entry != L'\0';) {
    const size_t length = wcscspn(entry, L"; \t\r\n,");
    if (length == 7 && _wcsnicmp(entry, L"<local>", 7) == 0) {
      if (wmemchr(host, L'.', host_length) == nullptr) return false;
    } else if (length > 0 && (wmemchr(entry, L':', length) != nullptr || wmemchr(entry, L'/', length) != nullptr ||
                              wmemchr(entry, L'<', length) != nullptr || Matches(entry, length, host, host_length))) {
      return false;
    }
    entry += length;
    if (*entry != L'\0') ++entry;
  }
  return true;
}

// The machine's default WinHTTP proxy, which mode 2 goes through, for the log; and whether it
// sends `url` through a proxy.
bool TraceDefaultProxy(const wchar_t* url) {
  WINHTTP_PROXY_INFO info = {};
  if (!::WinHttpGetDefaultProxyConfiguration(&info)) {
    TraceProxy(kModeDefaultProxy, L"sProxy", L"(unknown)");
    return false;
  }
  win::UniqueGlobalMemory proxy(info.lpszProxy);
  win::UniqueGlobalMemory bypass(info.lpszProxyBypass);
  const bool named = info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY;
  TraceProxy(kModeDefaultProxy, L"sProxy", named ? info.lpszProxy : nullptr);
  return named && ProxyServes(info.lpszProxy, info.lpszProxyBypass, url);
}

}  // namespace

win::UniqueInternetHandle HttpDownloader::OpenSession(const wchar_t* user_agent, int32_t mode, const wchar_t* url) {
  using Session = win::UniqueInternetHandle;
  session_proxied_ = mode == kModeNamedProxy;
  switch (mode) {
    case kModeDirect:
      TraceProxy(mode, L"sProxy", nullptr);
      return Session(::WinHttpOpen(user_agent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                   WINHTTP_NO_PROXY_BYPASS, 0));
    case kModeDefaultProxy:
      session_proxied_ = TraceDefaultProxy(url);
      return Session(::WinHttpOpen(user_agent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                   WINHTTP_NO_PROXY_BYPASS, 0));
    case kModeNamedProxy: {
      WideString proxy = WideString::Format(L"%s:%d", NamedProxySettings.host, NamedProxySettings.port);
      TraceProxy(mode, L"sProxy", proxy.c_str());
      return Session(::WinHttpOpen(user_agent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxy.c_str(), L"<local>", 0));
    }
    case kModeIeProxy:
      break;
    default:
      return Session();
  }

  // Mode 3 needs a proxy server entered by hand in the user's settings.
  if (ie_proxy_config_ == nullptr || ie_proxy_config_->lpszProxy == nullptr) {
    if (!LoadIeProxyConfig() || ie_proxy_config_ == nullptr || ie_proxy_config_->lpszProxy == nullptr) {
      TraceProxy(mode, L"sProxy", nullptr);
      return Session();
    }
  }
  TraceProxy(mode, L"sProxy", ie_proxy_config_->lpszProxy);
  win::UniqueInternetHandle session(::WinHttpOpen(user_agent, WINHTTP_ACCESS_TYPE_NAMED_PROXY,
                                                 ie_proxy_config_->lpszProxy, ie_proxy_config_->lpszProxyBypass, 0));
  session_proxied_ = ProxyServes(ie_proxy_config_->lpszProxy, ie_proxy_config_->lpszProxyBypass, url);
  if (!session || !ie_proxy_config_->fAutoDetect) return session;

  // Detection asked for: the auto-config script first, then DHCP and DNS discovery. What is
  // found replaces the entered proxy for this session; nothing found keeps it.
  WINHTTP_AUTOPROXY_OPTIONS options = {};
  options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
  options.lpszAutoConfigUrl = ie_proxy_config_->lpszAutoConfigUrl;
  options.fAutoLogonIfChallenged = TRUE;
  WINHTTP_PROXY_INFO info = {};
  BOOL found = ::WinHttpGetProxyForUrl(session.get(), url, &options, &info);
  if (!found) {
    options = {};
    options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
    options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    // Whoever answers on the network for the discovery gets no logon.
    options.fAutoLogonIfChallenged = FALSE;
    info = {};
    found = ::WinHttpGetProxyForUrl(session.get(), url, &options, &info);
  }
  if (!found) return session;
  win::UniqueGlobalMemory found_proxy(info.lpszProxy);
  win::UniqueGlobalMemory found_bypass(info.lpszProxyBypass);
  // The discovered proxy replaces the entered one for this attempt. Setting it on the open
  // session (WINHTTP_OPTION_PROXY) is what Windows offers, but Wine 8 ignores that option,
  // so a session is opened afresh with it; on Windows the two come to the same.
  const bool direct = info.dwAccessType == WINHTTP_ACCESS_TYPE_NO_PROXY || info.lpszProxy == nullptr;
  session_proxied_ = !direct && ProxyServes(info.lpszProxy, info.lpszProxyBypass, url);
  TraceProxy(mode, L"sDiscoveredProxy", direct ? nullptr : info.lpszProxy);
  HINTERNET replaced = direct ? ::WinHttpOpen(user_agent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                              WINHTTP_NO_PROXY_BYPASS, 0)
                              : ::WinHttpOpen(user_agent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, info.lpszProxy,
                                              info.lpszProxyBypass, 0);
  if (replaced == nullptr) {
    // Could not open one: the session of the entered proxy takes the option instead.
    ::WinHttpSetOption(session.get(), WINHTTP_OPTION_PROXY, &info, sizeof(info));
  } else {
    session.reset(replaced);
  }
  return session;
}
