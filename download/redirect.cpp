#include "download/redirect.h"

#include <winhttp.h>

#include <cwchar>

#include "download/http_text.h"

namespace {

bool IsHttpUrl(const wchar_t* text) { return StartsWithNoCase(text, L"http://"); }

// `url` cracked into `parts` (pointers into `url`); false when WinHTTP cannot read it.
bool Crack(const wchar_t* url, URL_COMPONENTS* parts) {
  *parts = {};
  parts->dwStructSize = sizeof(*parts);
  parts->dwHostNameLength = static_cast<DWORD>(-1);
  parts->dwUrlPathLength = static_cast<DWORD>(-1);
  parts->dwExtraInfoLength = static_cast<DWORD>(-1);
  return ::WinHttpCrackUrl(url, 0, 0, parts) != FALSE;
}

}  // namespace

bool IsRedirect(DWORD status) noexcept {
  return status == HTTP_STATUS_MOVED || status == HTTP_STATUS_REDIRECT || status == HTTP_STATUS_REDIRECT_METHOD ||
         status == HTTP_STATUS_REDIRECT_KEEP_VERB || status == HTTP_STATUS_PERMANENT_REDIRECT;
}

WideString RedirectTarget(const wchar_t* location, const wchar_t* current) {
  const size_t length = location != nullptr ? wcslen(location) : 0;
  if (length == 0 || length > kMaxUrlTaken || current == nullptr || !IsHttpUrl(current)) return WideString();
  URL_COMPONENTS parts;
  wchar_t host[kUrlCapacity];
  WideString absolute;
  if (location[0] == L'/' && location[1] != L'/') {
    // A path on the host of the current URL.
    if (!Crack(current, &parts)) return WideString();
    CopyHostName(parts, host);
    absolute = WideString::Format(L"http://%s:%d%s", host, static_cast<int>(parts.nPort), location);
    location = absolute.c_str();
  }
  if (!IsHttpUrl(location) || !Crack(location, &parts) || parts.nScheme != INTERNET_SCHEME_HTTP ||
      parts.dwHostNameLength == 0) {
    return WideString();
  }
  CopyHostName(parts, host);
  const WideString path = WideString::Copy(parts.lpszUrlPath, parts.dwUrlPathLength + parts.dwExtraInfoLength);
  return WideString::Format(L"http://%s:%d%s%s", host, static_cast<int>(parts.nPort), path.empty() ? L"/" : L"",
                            path.c_str());
}

void CopyHostName(const URL_COMPONENTS& components, wchar_t* out) {
  size_t length = components.dwHostNameLength;
  if (length > kUrlCapacity - 1) length = kUrlCapacity - 1;
  if (components.lpszHostName == nullptr) length = 0;
  wmemcpy(out, components.lpszHostName, length);
  out[length] = L'\0';
}
