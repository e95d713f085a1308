#include "app/banner.h"

#include <cstdlib>

#include "resources/resource.h"
#include "win/device_context.h"

namespace {

// A bitmap resource as the drawing calls take it: header, colour table, pixels (RLE or not).
struct Art {
  const BITMAPINFO* info = nullptr;
  const void* bits = nullptr;
  int width = 0;
  int height = 0;
};

bool LoadArt(HINSTANCE instance, int id, Art* art) {
  HRSRC resource = ::FindResourceW(instance, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(2) /* RT_BITMAP */);
  if (resource == nullptr) return false;
  const DWORD size = ::SizeofResource(instance, resource);
  const auto* header = static_cast<const BITMAPINFOHEADER*>(::LockResource(::LoadResource(instance, resource)));
  if (header == nullptr || size < sizeof(BITMAPINFOHEADER) || header->biSize < sizeof(BITMAPINFOHEADER) ||
      header->biWidth <= 0 || header->biHeight == 0 || header->biBitCount > 32) {
    return false;
  }
  DWORD colours = header->biClrUsed;
  if (colours == 0 && header->biBitCount <= 8) colours = 1u << header->biBitCount;
  const DWORD masks = header->biCompression == BI_BITFIELDS ? 3 * sizeof(DWORD) : 0;
  const DWORD offset = header->biSize + masks + colours * sizeof(RGBQUAD);
  if (colours > 256 || offset >= size) return false;
  art->info = reinterpret_cast<const BITMAPINFO*>(header);
  art->bits = reinterpret_cast<const BYTE*>(header) + offset;
  art->width = header->biWidth;
  art->height = std::abs(header->biHeight);
  return true;
}

// Smallest first.
constexpr int kBannerArt[] = {IDB_BANNER, IDB_BANNER_144, IDB_BANNER_192};

// Draws the art, decoded in `source`, into `target` of width x height, stretched where the sizes
// differ. Both bitmaps are free again when it returns.
bool DrawInto(HDC screen, HGDIOBJ source, const Art& art, HGDIOBJ target, int width, int height) {
  const win::UniqueMemoryDc from(::CreateCompatibleDC(screen));
  const win::UniqueMemoryDc to(::CreateCompatibleDC(screen));
  const win::SelectedObject from_source(from.get(), source);
  const win::SelectedObject to_target(to.get(), target);
  if (!from_source.valid() || !to_target.valid()) return false;
  if (art.width == width && art.height == height) {
    return ::BitBlt(to.get(), 0, 0, width, height, from.get(), 0, 0, SRCCOPY) != FALSE;
  }
  ::SetStretchBltMode(to.get(), HALFTONE);
  ::SetBrushOrgEx(to.get(), 0, 0, nullptr);
  return ::StretchBlt(to.get(), 0, 0, width, height, from.get(), 0, 0, art.width, art.height, SRCCOPY) != FALSE;
}

}  // namespace

win::UniqueGdiObject DrawBanner(HINSTANCE instance, int width, int height) {
  win::UniqueGdiObject result;
  Art art;
  for (int id : kBannerArt) {
    Art candidate;
    if (!LoadArt(instance, id, &candidate)) continue;
    art = candidate;
    if (candidate.width >= width && candidate.height >= height) break;
  }
  if (art.info == nullptr || width <= 0 || height <= 0) return result;

  const win::WindowDc screen(nullptr);
  if (screen.get() == nullptr) return result;
  // The art as it is (its run-length pixels decoded), then into the frame.
  win::UniqueGdiObject source(::CreateDIBitmap(screen.get(), &art.info->bmiHeader, CBM_INIT, art.bits, art.info,
                                               DIB_RGB_COLORS));
  result.reset(::CreateCompatibleBitmap(screen.get(), width, height));
  if (!source || !result || !DrawInto(screen.get(), source.get(), art, result.get(), width, height)) result.reset();
  return result;
}

HWND FindBannerControl(HWND dialog) {
  for (HWND child = ::GetWindow(dialog, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
    wchar_t class_name[16] = {};
    ::GetClassNameW(child, class_name, 16);
    const LONG style = ::GetWindowLongW(child, GWL_STYLE);
    if (_wcsicmp(class_name, L"Static") == 0 && (style & SS_TYPEMASK) == SS_BITMAP) return child;
  }
  return nullptr;
}
