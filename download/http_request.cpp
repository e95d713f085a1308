#include "download/http_request.h"

#include <atomic>
#include <utility>

#include "win/trace.h"

namespace {

constexpr size_t kMaxValidatorLength = 200;

// The platform calls tests replace (see SetHttpCallsForTesting).
const HttpCalls kPlatformCalls = {::WinHttpSendRequest, ::WinHttpQueryDataAvailable, ::WinHttpSetOption,
                                  ::WinHttpSetCredentials};
std::atomic<const HttpCalls*> g_calls{&kPlatformCalls};

// Printable ASCII only, so that a validator can go back into a request header as it came.
bool IsHeaderSafe(const WideString& text, wchar_t lowest) {
  if (text.empty() || text.size() > kMaxValidatorLength) return false;
  for (const wchar_t* c = text.c_str(); *c != L'\0'; ++c) {
    if (*c < lowest || *c > 0x7E) return false;
  }
  return true;
}

// A proxy's challenge that only the logged-on user's own logon can answer: a company proxy
// (of modes 2 and 3) that asks for NTLM or Negotiate, on an attempt without a caller's
// credentials. The request's policy is raised to MEDIUM for it, under which the platform hands
// the default credentials to intranet targets only: the proxy, and hosts that bypass it. The
// download host is reached through the proxy, so it is none of those and still gets no logon,
// even if it asked; and the credentials are set for the proxy target alone.
bool LetProxyHaveTheLogon(HINTERNET request, DWORD scheme) {
  if (scheme != WINHTTP_AUTH_SCHEME_NTLM && scheme != WINHTTP_AUTH_SCHEME_NEGOTIATE) return false;
  DWORD autologon = WINHTTP_AUTOLOGON_SECURITY_LEVEL_MEDIUM;
  return Calls().set_option(request, WINHTTP_OPTION_AUTOLOGON_POLICY, &autologon, sizeof(autologon)) != FALSE;
}

}  // namespace

const HttpCalls& Calls() { return *g_calls.load(); }
void SetHttpCallsForTesting(const HttpCalls* calls) { g_calls.store(calls != nullptr ? calls : &kPlatformCalls); }
const HttpCalls& PlatformHttpCalls() { return kPlatformCalls; }

WideString QueryHeaderText(HINTERNET request, DWORD info) {
  wchar_t buffer[512];
  DWORD size = sizeof(buffer);
  if (!::WinHttpQueryHeaders(request, info, WINHTTP_HEADER_NAME_BY_INDEX, buffer, &size, WINHTTP_NO_HEADER_INDEX)) {
    return WideString();
  }
  return WideString::Copy(buffer, size / sizeof(wchar_t));
}

WideString ResumeValidator(HINTERNET request) {
  WideString etag = QueryHeaderText(request, WINHTTP_QUERY_ETAG);
  if (IsHeaderSafe(etag, 0x21) && etag.size() >= 2 && etag.c_str()[0] == L'"' && etag.c_str()[etag.size() - 1] == L'"') {
    return etag;
  }
  WideString date = QueryHeaderText(request, WINHTTP_QUERY_LAST_MODIFIED);
  return IsHeaderSafe(date, 0x20) ? std::move(date) : WideString();
}

void TraceResponse(HINTERNET request, DWORD status) {
  const DWORD error = ::GetLastError();
  const WideString type = QueryHeaderText(request, WINHTTP_QUERY_CONTENT_TYPE);
  const WideString length = QueryHeaderText(request, WINHTTP_QUERY_CONTENT_LENGTH);
  DebugTrace(L"nStatus: %d sContentType: %s sContentLength: %s", static_cast<int>(status), type.c_str(), length.c_str());
  ::SetLastError(error);
}

FailureCause CauseOfStatus(DWORD status) {
  if (status == 0) return FailureCause::kNoConnection;
  if (status == HTTP_STATUS_NOT_FOUND || status == HTTP_STATUS_GONE) return FailureCause::kNotFound;
  if (status == HTTP_STATUS_PROXY_AUTH_REQ) return FailureCause::kProxyRefused;
  constexpr DWORD kNetworkAuthenticationRequired = 511;  // a network that wants a sign-in first
  if (status == kNetworkAuthenticationRequired) return FailureCause::kSignInPage;
  return FailureCause::kOther;
}

bool IsWebPage(HINTERNET request) {
  const WideString type = QueryHeaderText(request, WINHTTP_QUERY_CONTENT_TYPE);
  const wchar_t after = type.size() > 9 ? type.c_str()[9] : L'\0';
  return StartsWithNoCase(type.c_str(), L"text/html") && (after == L'\0' || after == L';' || after == L' ');
}

bool RunRequestLoop(HINTERNET request, const wchar_t* user_name, const wchar_t* password, bool proxy_logon,
                    DWORD* final_status) {
  DWORD proxy_scheme = 0;
  DWORD last_status = 0;
  int answers = 0;
  int resends = 0;
  for (;;) {
    if (proxy_scheme != 0) {
      Calls().set_credentials(request, WINHTTP_AUTH_TARGET_PROXY, proxy_scheme, user_name, password, nullptr);
    }
    const bool sent = Calls().send_request(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
                      ::WinHttpReceiveResponse(request, nullptr);
    if (!sent) {
      if (::GetLastError() == ERROR_WINHTTP_RESEND_REQUEST && ++resends <= kMaxResends) continue;
      return false;
    }
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
      return false;
    }
    *final_status = status;
    TraceResponse(request, status);
    if (status == HTTP_STATUS_OK || status == HTTP_STATUS_PARTIAL_CONTENT) return true;
    if (status != HTTP_STATUS_DENIED && status != HTTP_STATUS_PROXY_AUTH_REQ) return false;
    if (status == last_status || ++answers > kMaxAuthAnswers) return false;
    // The download host gets no credentials but a caller's own: answering its 401 without
    // any would ask the platform for the logged-on user's.
    if (status == HTTP_STATUS_DENIED && user_name == nullptr) return false;
    DWORD supported = 0, first = 0, target = 0;
    if (!::WinHttpQueryAuthSchemes(request, &supported, &first, &target)) return false;
    if (status == HTTP_STATUS_DENIED) {
      if (!Calls().set_credentials(request, target, ChooseAuthScheme(supported), user_name, password, nullptr)) {
        return false;
      }
    } else {
      proxy_scheme = ChooseAuthScheme(supported);
      if (user_name == nullptr && !(proxy_logon && LetProxyHaveTheLogon(request, proxy_scheme))) return false;
    }
    last_status = status;
  }
}

