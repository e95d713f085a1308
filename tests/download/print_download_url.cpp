// Prints the package URL this machine gets, for the check in a 32-bit Wine prefix.
#include <cstdio>

#include "download/download_source.h"

int wmain() {
  const WideString url = SelectDownloadUrl();
  std::printf("%ls\n", url.c_str());
  return 0;
}
