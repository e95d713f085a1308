#include "workflow/setup_signature.h"

#include <bcrypt.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstring>
#include <cwchar>

#include "setup_release.h"
#include "win/registry_version.h"
#include "win/trace.h"

namespace {

constexpr size_t kDigestBytes = 32;

void CloseAlgorithm(BCRYPT_ALG_HANDLE algorithm) noexcept { ::BCryptCloseAlgorithmProvider(algorithm, 0); }
using UniqueAlgorithm = win::UniqueHandle<win::HandleTraits<BCRYPT_ALG_HANDLE, nullptr, CloseAlgorithm>>;
void DestroyHash(BCRYPT_HASH_HANDLE hash) noexcept { ::BCryptDestroyHash(hash); }
using UniqueHash = win::UniqueHandle<win::HandleTraits<BCRYPT_HASH_HANDLE, nullptr, DestroyHash>>;

int HexValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// Whether `digest` is one of the pins; a malformed pin matches nothing.
bool IsPinned(const uint8_t (&digest)[kDigestBytes], const wchar_t* pins) {
  for (const wchar_t* pin = pins; pin != nullptr && *pin != L'\0';) {
    const wchar_t* end = wcschr(pin, L';');
    const size_t length = end != nullptr ? static_cast<size_t>(end - pin) : wcslen(pin);
    bool equal = length == 2 * kDigestBytes;
    for (size_t i = 0; equal && i < kDigestBytes; ++i) {
      const int high = HexValue(pin[2 * i]);
      const int low = HexValue(pin[2 * i + 1]);
      equal = high >= 0 && low >= 0 && digest[i] == static_cast<uint8_t>(high * 16 + low);
    }
    if (equal) return true;
    pin = end != nullptr ? end + 1 : nullptr;
  }
  return false;
}

// SHA-256 of the DER of a SubjectPublicKeyInfo.
bool KeyDigest(const CERT_PUBLIC_KEY_INFO& key, uint8_t (&digest)[kDigestBytes]) {
  void* encoded = nullptr;
  DWORD size = 0;
  if (!::CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, &key, CRYPT_ENCODE_ALLOC_FLAG, nullptr,
                             &encoded, &size)) {
    return false;
  }
  const win::UniqueLocalMemory der(encoded);
  UniqueAlgorithm algorithm;
  UniqueHash hash;
  return BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
         BCRYPT_SUCCESS(::BCryptCreateHash(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0)) &&
         BCRYPT_SUCCESS(::BCryptHashData(hash.get(), static_cast<PUCHAR>(der.get()), size, 0)) &&
         BCRYPT_SUCCESS(::BCryptFinishHash(hash.get(), digest, kDigestBytes, 0));
}

// The verification state of one file, closed on every way out.
class TrustState {
 public:
  TrustState(HANDLE file, const wchar_t* path) {
    file_info_.cbStruct = sizeof(file_info_);
    file_info_.pcwszFilePath = path;
    file_info_.hFile = file;
    data_.cbStruct = sizeof(data_);
    data_.dwUIChoice = WTD_UI_NONE;
    data_.fdwRevocationChecks = WTD_REVOKE_NONE;
    data_.dwUnionChoice = WTD_CHOICE_FILE;
    data_.pFile = &file_info_;
    data_.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL | WTD_REVOCATION_CHECK_NONE;
  }
  TrustState(const TrustState&) = delete;
  TrustState& operator=(const TrustState&) = delete;
  ~TrustState() { Run(WTD_STATEACTION_CLOSE); }
  LONG Verify() { return Run(WTD_STATEACTION_VERIFY); }
  // The signer's certificate as the verification saw it, or null.
  [[nodiscard]] const CERT_CONTEXT* Signer() const {
    CRYPT_PROVIDER_DATA* provider = ::WTHelperProvDataFromStateData(data_.hWVTStateData);
    CRYPT_PROVIDER_SGNR* signer = provider != nullptr ? ::WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    CRYPT_PROVIDER_CERT* cert = signer != nullptr ? ::WTHelperGetProvCertFromChain(signer, 0) : nullptr;
    return cert != nullptr ? cert->pCert : nullptr;
  }

 private:
  LONG Run(DWORD state_action) {
    data_.dwStateAction = state_action;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    return ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data_);
  }

  WINTRUST_FILE_INFO file_info_ = {};
  WINTRUST_DATA data_ = {};
};

}  // namespace

const wchar_t* ProductSignerPins() noexcept { return kSignerPins; }

win::UniqueFile OpenForLaunch(const wchar_t* path) noexcept {
  return win::UniqueFile(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool IsSignedByPinnedSigner(HANDLE file, const wchar_t* path, const wchar_t* pins) noexcept {
  if (file == INVALID_HANDLE_VALUE || path == nullptr) return false;
  TrustState state(file, path);
  const LONG trust = state.Verify();
  DebugTrace(L"lTrust: %d", static_cast<int>(trust));
  if (trust != 0) return false;
  const CERT_CONTEXT* signer = state.Signer();
  uint8_t digest[kDigestBytes] = {};
  const bool pinned =
      signer != nullptr && KeyDigest(signer->pCertInfo->SubjectPublicKeyInfo, digest) && IsPinned(digest, pins);
  DebugTrace(L"bSignerPinned: %d", pinned ? 1 : 0);
  return pinned;
}

bool IsSignedByProductSigner(HANDLE file, const wchar_t* path) noexcept {
  return IsSignedByPinnedSigner(file, path, ProductSignerPins());
}

uint64_t MinimumSetupVersion() noexcept { return kMinimumSetupVersion; }

bool HasVersionAtLeast(const wchar_t* path, uint64_t minimum) noexcept {
  uint64_t version = 0;
  if (!ReadFileVersion(path, &version)) return false;
  DebugTrace(L"dwSetupVersion: %d.%d.%d.%d", static_cast<int>(version >> 48), static_cast<int>((version >> 32) & 0xFFFF),
             static_cast<int>((version >> 16) & 0xFFFF), static_cast<int>(version & 0xFFFF));
  return version >= minimum;
}
