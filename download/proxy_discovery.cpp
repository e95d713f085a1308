// Proxy lists as WinHTTP reads them, and the bounded lookups of proxy auto-configuration.
#include "download/proxy_discovery.h"

#include <atomic>
#include <cwchar>
#include <cwctype>
#include <new>

#include "win/internet_handle.h"
#include "win/trace.h"
#include "win/unique_handle.h"

namespace {

std::atomic<ProxyLookupCall> g_lookup{::WinHttpGetProxyForUrl};
std::atomic<DWORD> g_deadline_ms{kProxyLookupDeadlineMs};

constexpr wchar_t kListSeparators[] = L"; \t\r\n";

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

// Whether the host `host` (`length` characters) is on the bypass list `bypass`.
bool Bypassed(const wchar_t* bypass, const wchar_t* host, size_t length) {
  for (const wchar_t* entry = bypass; entry != nullptr && *entry != L'\0';) {
    const size_t size = wcscspn(entry, L"; \t\r\n,");
    if (size == 7 && _wcsnicmp(entry, L"<local>", 7) == 0) {
      if (wmemchr(host, L'.', length) == nullptr) return true;
    } else if (size > 0 && (wmemchr(entry, L':', size) != nullptr || wmemchr(entry, L'/', size) != nullptr ||
                            wmemchr(entry, L'<', size) != nullptr || Matches(entry, size, host, length))) {
      return true;
    }
    entry += size;
    if (*entry != L'\0') ++entry;
  }
  return false;
}

// One lookup's state, shared by the thread that waits for it and the thread that runs it, each
// holding a reference; whichever lets go last frees it. The lookup reads only what is here, so
// one that is abandoned, and may end long after its caller went on, never touches the caller's
// memory; what it finds then is freed with the state.
struct LookupJob {
  LONG references = 2;
  ProxyLookupCall lookup = nullptr;
  HINTERNET session = nullptr;  // the lookup's own; closed by the waiting side alone
  WideString url;
  WideString script_url;
  WINHTTP_AUTOPROXY_OPTIONS options = {};
  BOOL found = FALSE;
  DWORD error = ERROR_SUCCESS;
  WINHTTP_PROXY_INFO info = {};
};

void Release(LookupJob* job) {
  if (::InterlockedDecrement(&job->references) != 0) return;
  // WinHTTP hands out its strings from the global heap.
  win::UniqueGlobalMemory proxy(job->info.lpszProxy);
  win::UniqueGlobalMemory bypass(job->info.lpszProxyBypass);
  win::DeleteOnProcessHeap(job);
}

DWORD WINAPI RunLookup(void* parameter) {
  auto* job = static_cast<LookupJob*>(parameter);
  job->found = job->lookup(job->session, job->url.c_str(), &job->options, &job->info);
  job->error = job->found ? ERROR_SUCCESS : ::GetLastError();
  Release(job);
  return 0;
}

enum class Lookup { kFound, kFailed, kAbandoned };

// One WinHttpGetProxyForUrl for `url` with `flags` (and the script at `script_url`, with the
// user's logon when `logon`), on a session and a thread of its own, waited for until the
// deadline. Past it the lookup is abandoned: its session is closed (WinHTTP keeps the session's
// object alive for a call still running on it) and its thread left to end by itself.
Lookup LookUp(const wchar_t* user_agent, const wchar_t* url, DWORD flags, const wchar_t* script_url, BOOL logon,
              FoundProxy* found, DWORD* error) {
  const wchar_t* what = flags == WINHTTP_AUTOPROXY_AUTO_DETECT ? L"discovery"
                        : logon                                ? L"script, with the logon"
                                                               : L"script";
  LookupJob* job = win::NewOnProcessHeap<LookupJob>();
  *error = ERROR_NOT_ENOUGH_MEMORY;
  if (job == nullptr) return Lookup::kFailed;
  job->lookup = g_lookup.load();
  job->url = WideString::Copy(url);
  job->script_url = WideString::Copy(script_url);
  job->options.dwFlags = flags;
  job->options.lpszAutoConfigUrl = script_url != nullptr ? job->script_url.c_str() : nullptr;
  if (flags == WINHTTP_AUTOPROXY_AUTO_DETECT) {
    job->options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
  }
  job->options.fAutoLogonIfChallenged = logon;
  job->session =
      ::WinHttpOpen(user_agent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  win::UniqueKernelHandle thread(job->session != nullptr ? ::CreateThread(nullptr, 0, RunLookup, job, 0, nullptr)
                                                         : nullptr);
  if (!thread) {
    *error = ::GetLastError();
    if (job->session != nullptr) ::WinHttpCloseHandle(job->session);
    win::DeleteOnProcessHeap(job);
    return Lookup::kFailed;
  }
  const DWORD start = ::GetTickCount();
  const bool ended = ::WaitForSingleObject(thread.get(), g_deadline_ms.load()) == WAIT_OBJECT_0;
  ::WinHttpCloseHandle(job->session);
  const int ms = static_cast<int>(::GetTickCount() - start);
  if (!ended) {
    DebugTrace(L"sProxyLookup: %s abandoned after %d ms", what, ms);
    *error = ERROR_WINHTTP_TIMEOUT;
    Release(job);
    return Lookup::kAbandoned;
  }
  *error = job->error;
  DebugTrace(L"sProxyLookup: %s %s (nError: %d, %d ms)", what, job->found ? L"found" : L"failed",
             static_cast<int>(job->error), ms);
  if (job->found) {
    found->direct = job->info.dwAccessType == WINHTTP_ACCESS_TYPE_NO_PROXY || job->info.lpszProxy == nullptr;
    found->proxy = WideString::Copy(found->direct ? nullptr : job->info.lpszProxy);
    found->bypass = WideString::Copy(job->info.lpszProxyBypass);
  }
  const Lookup result = job->found ? Lookup::kFound : Lookup::kFailed;
  Release(job);
  return result;
}

}  // namespace

WideString ProxyEntryFor(const wchar_t* list, const wchar_t* url) {
  const wchar_t* scheme_end = url != nullptr ? wcsstr(url, L"://") : nullptr;
  const size_t scheme_length = scheme_end != nullptr ? static_cast<size_t>(scheme_end - url) : 0;
  const wchar_t* generic = nullptr;
  size_t generic_length = 0;
  for (const wchar_t* entry = list; entry != nullptr && *entry != L'\0';) {
    size_t size = wcscspn(entry, kListSeparators);
    const wchar_t* server = entry;
    const wchar_t* equals = static_cast<const wchar_t*>(wmemchr(entry, L'=', size));
    if (equals != nullptr) server = equals + 1;
    size_t server_length = size - static_cast<size_t>(server - entry);
    if (server_length > 7 && _wcsnicmp(server, L"http://", 7) == 0) {
      server += 7;
      server_length -= 7;
    }
    if (server_length > 0 && equals == nullptr && generic == nullptr) {
      generic = server;
      generic_length = server_length;
    }
    // "http=host:port" serves http URLs only, "https=..." https ones; WinHTTP knows no other.
    if (server_length > 0 && equals != nullptr && scheme_length != 0 &&
        static_cast<size_t>(equals - entry) == scheme_length && _wcsnicmp(entry, url, scheme_length) == 0) {
      return WideString::Copy(server, server_length);
    }
    entry += size;
    while (*entry != L'\0' && wcschr(kListSeparators, *entry) != nullptr) ++entry;
  }
  return generic != nullptr ? WideString::Copy(generic, generic_length) : WideString();
}

bool ProxyServes(const wchar_t* list, const wchar_t* bypass, const wchar_t* url) {
  if (ProxyEntryFor(list, url).empty()) return false;
  URL_COMPONENTS components = {};
  components.dwStructSize = sizeof(components);
  components.dwHostNameLength = static_cast<DWORD>(-1);
  if (!::WinHttpCrackUrl(url, 0, 0, &components) || components.dwHostNameLength == 0) return false;
  return !Bypassed(bypass, components.lpszHostName, components.dwHostNameLength);
}

ProxySource FindProxyForUrl(const wchar_t* user_agent, const wchar_t* url,
                            const WINHTTP_CURRENT_USER_IE_PROXY_CONFIG& config, FoundProxy* found) {
  if (!config.fAutoDetect) return ProxySource::kNone;
  DWORD error = ERROR_SUCCESS;
  const wchar_t* script = config.lpszAutoConfigUrl;
  if (script != nullptr && script[0] != L'\0') {
    // The script whose URL the user's own settings name. Its host gets the user's logon only
    // when it turned the lookup down for the want of it.
    Lookup result = LookUp(user_agent, url, WINHTTP_AUTOPROXY_CONFIG_URL, script, FALSE, found, &error);
    if (result == Lookup::kFailed && error == ERROR_WINHTTP_LOGIN_FAILURE) {
      result = LookUp(user_agent, url, WINHTTP_AUTOPROXY_CONFIG_URL, script, TRUE, found, &error);
    }
    if (result == Lookup::kFound) return ProxySource::kScript;
  }
  // Whoever answers on the network for the discovery gets no logon, nor does what it names.
  if (LookUp(user_agent, url, WINHTTP_AUTOPROXY_AUTO_DETECT, nullptr, FALSE, found, &error) == Lookup::kFound) {
    return ProxySource::kDiscovered;
  }
  return ProxySource::kNone;
}

void SetProxyLookupForTesting(ProxyLookupCall lookup) {
  g_lookup.store(lookup != nullptr ? lookup : ::WinHttpGetProxyForUrl);
}

void SetProxyLookupDeadlineForTesting(DWORD milliseconds) {
  g_deadline_ms.store(milliseconds != 0 ? milliseconds : kProxyLookupDeadlineMs);
}
