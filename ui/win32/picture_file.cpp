#include "ui/win32/picture_file.h"

#include <cerrno>
#include <cstdio>
#include <vector>

std::string SaveDrawnPicture(int width, int height, const std::function<void(HDC)>& draw,
                             TSystemServices& services, const char* path) {
  if (width <= 0 || height <= 0) return "the map has no area to picture";
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof header;
  header.biWidth = width;
  header.biHeight = -height;  // top-down rows
  header.biPlanes = 1;
  header.biBitCount = 32;
  header.biCompression = BI_RGB;
  std::vector<unsigned char> pixels(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP picture = CreateCompatibleBitmap(screen, width, height);
  bool captured = false;
  if (memory != nullptr && picture != nullptr) {
    HGDIOBJ previous = SelectObject(memory, picture);
    draw(memory);
    SelectObject(memory, previous);
    captured = GetDIBits(memory, picture, 0, static_cast<UINT>(height), pixels.data(),
                         reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS) == height;
  }
  if (picture != nullptr) DeleteObject(picture);
  if (memory != nullptr) DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  if (!captured) return "the picture could not be drawn (out of drawing resources)";

  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof file + sizeof header;
  file.bfSize = static_cast<DWORD>(file.bfOffBits + pixels.size());
  std::unique_ptr<TReplacementFile> out = services.OpenLog(path);
  if (out == nullptr) return services.LastErrorText();
  errno = 0;
  bool written = std::fwrite(&file, sizeof file, 1, out->Stream()) == 1;
  written = written && std::fwrite(&header, sizeof header, 1, out->Stream()) == 1;
  written = written && std::fwrite(pixels.data(), 1, pixels.size(), out->Stream()) == pixels.size();
  const int writeError = written ? 0 : errno != 0 ? errno : EIO;
  return out->Commit(writeError) ? std::string() : out->FailureText();
}
