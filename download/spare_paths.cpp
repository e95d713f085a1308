// What the engine offers and the installer never asks for, kept whole in one place: strategy 0
// (direct, then the IE settings, never the default proxy); strategy 4 with mode 4, a named
// proxy (NamedProxySettings, which nothing fills) answered with the caller's own credentials,
// and a percentage for the caller; and a caller's stop flag (TransferFile's, beside the stop
// check the installer sets).
#include <utility>

#include "download/http_downloader.h"
#include "download/proxy_discovery.h"

NamedProxyConfig NamedProxySettings = {};

bool HttpDownloader::DownloadDirectThenIeProxy(const wchar_t* url, const wchar_t* file_path, HWND progress_bar) {
  return DownloadDirect(url, file_path, progress_bar) || DownloadViaIeProxy(url, file_path, progress_bar);
}

bool HttpDownloader::DownloadViaNamedProxy(const wchar_t* url, const wchar_t* file_path, HWND progress_bar,
                                           int32_t* percent_out) {
  return TransferFile(url, file_path, progress_bar, 0, 0, nullptr, kModeNamedProxy, NamedProxySettings.userName,
                      NamedProxySettings.password, percent_out, nullptr);
}

win::UniqueInternetHandle HttpDownloader::OpenNamedProxySession(const wchar_t* user_agent) {
  // The caller's own proxy, answered with the caller's own credentials alone.
  WideString proxy = WideString::Format(L"%s:%d", NamedProxySettings.host, NamedProxySettings.port);
  TraceProxy(kModeNamedProxy, L"sProxy", proxy.c_str());
  session_source_ = ProxySource::kCaller;
  session_bypass_ = WideString::Copy(L"<local>");
  win::UniqueInternetHandle session(::WinHttpOpen(user_agent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxy.c_str(), L"<local>", 0));
  session_proxy_ = std::move(proxy);
  return session;
}

bool HttpDownloader::StopAsked(const int32_t* stop_flag) const noexcept {
  const StopCheck check = stop_check_;
  return (stop_flag != nullptr && *stop_flag != 0) || (check != nullptr && check());
}
