// The owner of WinHTTP handles (sessions, connections, requests).
#pragma once

#include <windows.h>
#include <winhttp.h>

#include "win/unique_handle.h"

namespace win {

inline void CloseInternetHandle(HINTERNET handle) noexcept { ::WinHttpCloseHandle(handle); }
using UniqueInternetHandle = UniqueHandle<HandleTraits<HINTERNET, nullptr, CloseInternetHandle>>;

}  // namespace win
