#include "app/removal_offer.h"

#include <windows.h>

#include "app/exit_codes.h"
#include "app/messages.h"
#include "app/run_log.h"
#include "existing/previous_version.h"
#include "win/application.h"

int OfferPreviousVersionRemoval() {
  const InstalledProductFinding product = FindInstalledProduct();
  const wchar_t* name = product.name.empty() ? nullptr : product.name.c_str();
  switch (product.question) {
    case InstalledProductQuestion::kNone:
      return 0;
    case InstalledProductQuestion::kStartHint: {
      const WideString text = WideString::Format(GetMessageText(kMessageStartInstalled).c_str(), name ? name : L"Zuno");
      win::AppMessageBox(text.c_str(), MB_OK);
      return kRemovalNotStarted;
    }
    case InstalledProductQuestion::kRemove:
      break;
  }
  if (name == nullptr) name = L"Zuno Antivirus Software";
  const WideString text = WideString::Format(GetMessageText(kMessageRemoveInstalled).c_str(), name);
  if (win::AppMessageBox(text.c_str(), MB_OKCANCEL) != IDOK) return kRemovalNotStarted;
  switch (RemoveInstalledProduct(product)) {
    case RemovalStart::kStarted:
      return kRemovalStarted;
    case RemovalStart::kNotStarted:
      return kRemovalNotStarted;
    case RemovalStart::kFilesUnprotected:
      break;
  }
  const WideString refused = WideString::Format(GetMessageText(kMessageFilesUnprotected).c_str(), name);
  win::AppMessageBox(FailureBoxText(refused.c_str()).c_str(), MB_OK | MB_ICONEXCLAMATION);
  return kRemovalRefused;
}

DWORD RemovalExitCode(int removal) {
  if (removal == kRemovalStarted) return kExitStarted;
  return removal == kRemovalRefused ? kExitInstalledFilesUnprotected : kExitOtherVersionInstalled;
}
