// Times DecodePackageFile on one package: decode_bench PACKAGE OUTPUT [RUNS]
// Prints the best wall time in milliseconds.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "package/package_file.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: decode_bench PACKAGE OUTPUT [RUNS]\n");
    return 64;
  }
  const int runs = argc > 3 ? _wtoi(argv[3]) : 3;
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  double best = 1e30;
  for (int i = 0; i < runs; ++i) {
    LARGE_INTEGER start, end;
    ::QueryPerformanceCounter(&start);
    const PackageStatus status = DecodePackageFile(argv[1], argv[2]);
    ::QueryPerformanceCounter(&end);
    if (status != kPackageSuccess) {
      std::fprintf(stderr, "decode failed: %d\n", static_cast<int>(status));
      return 1;
    }
    const double ms = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
    if (ms < best) best = ms;
  }
  std::printf("%.1f\n", best);
  return 0;
}
