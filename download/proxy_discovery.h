// Proxy lists read as WinHTTP reads them, and the lookups of proxy auto-configuration (the
// script named in the user's settings, and discovery by DHCP and DNS), each bounded in time.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <cstdint>

#include "win/wide_string.h"

// The entry of the proxy list `list` that WinHTTP takes for `url`: a "scheme=" entry for the
// URL's scheme, else the first entry that names no scheme; empty when no entry fits (the
// request then goes to its host directly). An entry's own "http://" prefix is dropped.
[[nodiscard]] WideString ProxyEntryFor(const wchar_t* list, const wchar_t* url);

// Whether a session with the proxy list `list` and the bypass list `bypass` sends `url`
// through a proxy: an entry fits and the URL's host is on no entry of the bypass list.
// Entries of the bypass list it cannot read are taken to match: the answer may be "no"
// wrongly, never "yes".
[[nodiscard]] bool ProxyServes(const wchar_t* list, const wchar_t* bypass, const wchar_t* url);

// The proxy of an attempt in `mode`, for the log (null: none), as `what`. Where the setting holds
// an '@' (a user name and password, which no proxy setting should hold, and which may hold
// anything), only what follows the last one is shown.
void TraceProxy(int32_t mode, const wchar_t* what, const wchar_t* proxy);
// The proxy TraceProxy last showed, for the attempt's line; ForgetAttemptProxy at its start.
void ForgetAttemptProxy();
[[nodiscard]] const wchar_t* AttemptProxy();

// Where the proxy of a session came from, which decides whether it may have the user's logon.
enum class ProxySource {
  kNone,       // no proxy: a direct line
  kMachine,    // the machine's default WinHTTP proxy, set by an administrator
  kEntered,    // entered by hand in the user's own settings
  kScript,     // named by the auto-config script whose URL is in the user's settings
  kDiscovered, // found by DHCP or DNS discovery: whoever answers on the network named it
  kCaller,     // a caller's own proxy with its own credentials
};

// The longest one lookup may take. Wine evaluates a script in 27 to 41 ms and gives up on a
// discovery whose name server never answers after 10 s; Windows documents no bound and fetches
// the script without a time-out of ours. 14 s lets every lookup that ends by itself end, and
// the three an attempt makes at most (the script, once more with the logon, discovery) stay
// under 45 s before the download goes on without them.
constexpr DWORD kProxyLookupDeadlineMs = 14000;
constexpr int kMaxProxyLookups = 3;
static_assert(kProxyLookupDeadlineMs * kMaxProxyLookups < 45000, "the lookups of an attempt stay under 45 s");

// What one lookup found: a direct line, or a proxy list with its bypass list.
struct FoundProxy {
  bool direct = false;
  WideString proxy;
  WideString bypass;
};

// The proxy for `url` (normalized) by auto-configuration, as far as the user's IE settings
// `config` ask for it: the script at their auto-config URL (fetched without the user's logon,
// and again with it only when the script's host turned it down with
// ERROR_WINHTTP_LOGIN_FAILURE), then DHCP and DNS discovery (never with the logon). Each lookup
// runs on a session of its own, on a thread of its own, for kProxyLookupDeadlineMs at most;
// past it the lookup is abandoned and the next one tried. Returns kScript or kDiscovered with
// `found` filled, or kNone when nothing was found.
[[nodiscard]] ProxySource FindProxyForUrl(const wchar_t* user_agent, const wchar_t* url,
                                          const WINHTTP_CURRENT_USER_IE_PROXY_CONFIG& config, FoundProxy* found);

// The lookup itself (WinHttpGetProxyForUrl unless a test replaced it). Tests stand in for DHCP
// and DNS discovery and for a script host that never answers, which the test network lacks.
using ProxyLookupCall = decltype(&::WinHttpGetProxyForUrl);
// Null restores the platform's.
void SetProxyLookupForTesting(ProxyLookupCall lookup);
// 0 restores kProxyLookupDeadlineMs.
void SetProxyLookupDeadlineForTesting(DWORD milliseconds);
