#include "app/removal_offer.h"

#include <windows.h>

#include "app/installer_ends.h"
#include "app/messages.h"
#include "existing/previous_version.h"
#include "win/application.h"
#include "win/trace.h"

int OfferPreviousVersionRemoval() {
  const InstalledProductFinding product = FindInstalledProduct();
  const wchar_t* name = product.name.empty() ? nullptr : product.name.c_str();
  if (product.question == InstalledProductQuestion::kNone) {
    DebugTrace(L"Product check: no installed product of the maker found");
  } else {
    DebugTrace(L"Product check: found \"%s\" in %s", name ? name : L"(no name)", product.directory.c_str());
  }
  switch (product.question) {
    case InstalledProductQuestion::kNone:
      return 0;
    case InstalledProductQuestion::kStartHint: {
      const WideString text = WideString::Format(GetMessageText(kMessageStartInstalled).c_str(), name ? name : L"Zuno");
      win::AppMessageBox(text.c_str(), MB_OK);
      DebugTrace(L"Removal offer: none (the product is installed whole; told how to start it)");
      return kRemovalNotStarted;
    }
    case InstalledProductQuestion::kRemove:
      break;
  }
  if (name == nullptr) name = L"Zuno Antivirus Software";
  const WideString text = WideString::Format(GetMessageText(kMessageRemoveInstalled).c_str(), name);
  const bool accepted = win::AppMessageBox(text.c_str(), MB_OKCANCEL) == IDOK;
  DebugTrace(L"Removal offer: %s", accepted ? L"accepted (OK)" : L"declined (Cancel)");
  if (!accepted) return kRemovalNotStarted;
  switch (RemoveInstalledProduct(product)) {
    case RemovalStart::kStarted:
      return kRemovalStarted;
    case RemovalStart::kNotStarted:
      return kRemovalNotStarted;
    case RemovalStart::kFilesUnprotected:
      break;
  }
  static_cast<void>(TellStartEnd(InstallResult::kInstalledFilesUnprotected, name));
  return kRemovalRefused;
}

InstallResult RemovalResult(int removal) {
  if (removal == kRemovalStarted) return InstallResult::kRemovalStarted;
  return removal == kRemovalRefused ? InstallResult::kInstalledFilesUnprotected : InstallResult::kInstalledProductStays;
}
