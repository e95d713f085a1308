// What a window shows, as 0x00RRGGBB pixels, top row first.
#pragma once

#include <windows.h>

#include <vector>

namespace test {

// `width` x `height` pixels of whatever `draw` puts into a memory DC holding a 32-bit image.
template <typename Draw>
std::vector<DWORD> PixelsOf(int width, int height, Draw draw) {
  std::vector<DWORD> pixels(static_cast<size_t>(width) * static_cast<size_t>(height));
  BITMAPINFO format = {};
  format.bmiHeader.biSize = sizeof(format.bmiHeader);
  format.bmiHeader.biWidth = width;
  format.bmiHeader.biHeight = -height;
  format.bmiHeader.biPlanes = 1;
  format.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HDC memory = ::CreateCompatibleDC(nullptr);
  HBITMAP image = ::CreateDIBSection(memory, &format, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (image != nullptr) {
    HGDIOBJ old = ::SelectObject(memory, image);
    draw(memory);
    ::GdiFlush();
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<const DWORD*>(bits)[i] & 0xFFFFFF;
    ::SelectObject(memory, old);
    ::DeleteObject(image);
  }
  ::DeleteDC(memory);
  return pixels;
}

// A window's client pixels as the screen shows them.
inline std::vector<DWORD> ClientPixels(HWND hwnd, int width, int height) {
  return PixelsOf(width, height, [&](HDC memory) {
    HDC dc = ::GetDC(hwnd);
    ::BitBlt(memory, 0, 0, width, height, dc, 0, 0, SRCCOPY);
    ::ReleaseDC(hwnd, dc);
  });
}

}  // namespace test
