// How a session is opened for each connection mode, and the user's IE proxy settings.
#include "download/http_downloader.h"
#include "download/proxy_discovery.h"

#include <cwchar>
#include <utility>

#include "win/internet_handle.h"
#include "win/trace.h"
#include "win/unique_handle.h"
#include "win/wide_string.h"

namespace {
// The proxy of the attempt under way, as traced (never with its credentials). Only the worker
// downloads.
wchar_t g_attempt_proxy[win::kPathCapacity] = L"(none)";
}  // namespace

void TraceProxy(int32_t mode, const wchar_t* what, const wchar_t* proxy) {
  const wchar_t* at = proxy != nullptr ? wcsrchr(proxy, L'@') : nullptr;
  const wchar_t* shown = proxy == nullptr ? L"(none)" : at != nullptr ? at + 1 : proxy;
  DebugTrace(L"nMode: %d %s: %s", static_cast<int>(mode), what, shown);
  _snwprintf(g_attempt_proxy, win::kPathCapacity - 1, L"%s", shown);
}

void ForgetAttemptProxy() { wcscpy(g_attempt_proxy, L"(none)"); }
const wchar_t* AttemptProxy() { return g_attempt_proxy; }

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

// The machine's default WinHTTP proxy, which mode 2 goes through, for the log and into
// `proxy` and `bypass`; false when it names none.
bool ReadDefaultProxy(WideString* proxy, WideString* bypass) {
  WINHTTP_PROXY_INFO info = {};
  if (!::WinHttpGetDefaultProxyConfiguration(&info)) {
    TraceProxy(kModeDefaultProxy, L"sProxy", L"(unknown)");
    return false;
  }
  win::UniqueGlobalMemory proxy_text(info.lpszProxy);
  win::UniqueGlobalMemory bypass_text(info.lpszProxyBypass);
  const bool named = info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && info.lpszProxy != nullptr;
  TraceProxy(kModeDefaultProxy, L"sProxy", named ? info.lpszProxy : nullptr);
  if (!named) return false;
  *proxy = WideString::Copy(info.lpszProxy);
  *bypass = WideString::Copy(info.lpszProxyBypass);
  return true;
}

}  // namespace

win::UniqueInternetHandle HttpDownloader::OpenSession(const wchar_t* user_agent, int32_t mode, const wchar_t* url) {
  using Session = win::UniqueInternetHandle;
  session_source_ = ProxySource::kNone;
  session_proxy_ = WideString();
  session_bypass_ = WideString();
  switch (mode) {
    case kModeDirect:
      TraceProxy(mode, L"sProxy", nullptr);
      return Session(::WinHttpOpen(user_agent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                   WINHTTP_NO_PROXY_BYPASS, 0));
    case kModeDefaultProxy:
      // The machine's default proxy: only an administrator sets it (netsh winhttp).
      if (ReadDefaultProxy(&session_proxy_, &session_bypass_)) session_source_ = ProxySource::kMachine;
      return Session(::WinHttpOpen(user_agent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                   WINHTTP_NO_PROXY_BYPASS, 0));
    case kModeNamedProxy:
      return OpenNamedProxySession(user_agent);
    case kModeIeProxy:
      return OpenIeProxySession(user_agent, url);
    default:
      return Session();
  }
}

win::UniqueInternetHandle HttpDownloader::OpenIeProxySession(const wchar_t* user_agent, const wchar_t* url) {
  // Mode 3 needs a proxy server entered by hand in the user's settings.
  if (ie_proxy_config_ == nullptr || ie_proxy_config_->lpszProxy == nullptr) {
    if (!LoadIeProxyConfig() || ie_proxy_config_ == nullptr || ie_proxy_config_->lpszProxy == nullptr) {
      TraceProxy(kModeIeProxy, L"sProxy", nullptr);
      return win::UniqueInternetHandle();
    }
  }
  const WINHTTP_CURRENT_USER_IE_PROXY_CONFIG& config = *ie_proxy_config_;
  TraceProxy(kModeIeProxy, L"sProxy", config.lpszProxy);
  // The proxy entered by hand in the user's own settings: the user named it.
  session_source_ = ProxySource::kEntered;
  session_proxy_ = WideString::Copy(config.lpszProxy);
  session_bypass_ = WideString::Copy(config.lpszProxyBypass);

  // Detection asked for: the auto-config script first, then DHCP and DNS discovery (each
  // bounded in time). What is found replaces the entered proxy for this attempt; nothing found
  // keeps it. The script's proxy was named by the script the user's settings name; a
  // discovered one by whoever answered on the network, and it never gets the user's logon.
  FoundProxy found;
  const ProxySource source = FindProxyForUrl(user_agent, url, config, &found);
  if (source != ProxySource::kNone) {
    TraceProxy(kModeIeProxy, source == ProxySource::kScript ? L"sScriptProxy" : L"sDiscoveredProxy",
               found.direct ? nullptr : found.proxy.c_str());
    session_source_ = found.direct ? ProxySource::kNone : source;
    session_proxy_ = std::move(found.proxy);
    session_bypass_ = std::move(found.bypass);
  }
  // The session goes through the entry of the list that serves the URL's scheme, as WinHTTP
  // would pick it, or straight to the host when none does. (A found proxy is applied by opening
  // the session with it: Wine 8 ignores WINHTTP_OPTION_PROXY on an open session, and on Windows
  // the two come to the same.)
  const WideString entry = ProxyEntryFor(session_proxy_.c_str(), url);
  if (entry.empty()) {
    return win::UniqueInternetHandle(::WinHttpOpen(user_agent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                                   WINHTTP_NO_PROXY_BYPASS, 0));
  }
  const wchar_t* bypass = session_bypass_.empty() ? WINHTTP_NO_PROXY_BYPASS : session_bypass_.c_str();
  return win::UniqueInternetHandle(
      ::WinHttpOpen(user_agent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, entry.c_str(), bypass, 0));
}

bool HttpDownloader::ProxyMayHaveTheLogon(const wchar_t* url) const {
  // Only a proxy an administrator or the user named: the machine's (mode 2), the one entered by
  // hand or the one the configured script named (mode 3); and only where it carries this URL.
  const bool named = session_source_ == ProxySource::kMachine || session_source_ == ProxySource::kEntered ||
                     session_source_ == ProxySource::kScript;
  return named && ProxyServes(session_proxy_.c_str(), session_bypass_.c_str(), url);
}
