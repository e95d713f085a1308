// Loads each DLL named on its command line by name, as a program that imports it or a system
// DLL that loads it would: the DLL search scenario's proof that its stand-ins are found.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  int missing = 0;
  for (int i = 1; i < argc; ++i) {
    if (::LoadLibraryW(argv[i]) == nullptr) ++missing;
  }
  return missing;
}
