// Owners for the Win32 and COM objects the Windows window uses, so that each is
// released by the scope that made it on every way out.
#pragma once

#include "ui/windows/windows_api.h"

#include "core/free_with.h"

#include <memory>
#include <type_traits>
#include <utility>

namespace brisal {

using GdiBitmap = OwningPtr<std::remove_pointer_t<HBITMAP>, DeleteObject>;
using MemoryDc = OwningPtr<std::remove_pointer_t<HDC>, DeleteDC>;

// A COM interface pointer, released once.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { Reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // For the calls that hand back a new reference.
  T** Put() {
    Reset();
    return &p_;
  }
  void Reset() {
    if (p_ != nullptr) std::exchange(p_, nullptr)->Release();
  }

 private:
  T* p_ = nullptr;
};

// A window-sized 32-bit top-down DIB section selected into a memory DC compatible
// with the screen: the static layer and the back buffer. Its pixels are premultiplied
// ARGB in native order, the same layout as a cairo ARGB32 image.
class DibSurface {
 public:
  DibSurface() = default;
  ~DibSurface() {
    if (dc_ && old_bitmap_ != nullptr) SelectObject(dc_.get(), old_bitmap_);
  }
  DibSurface(const DibSurface&) = delete;
  DibSurface& operator=(const DibSurface&) = delete;

  bool Create(int width, int height) {
    HDC screen = GetDC(nullptr);
    dc_.reset(CreateCompatibleDC(screen));
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    bitmap_.reset(CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    ReleaseDC(nullptr, screen);
    if (!dc_ || !bitmap_ || bits == nullptr) return false;
    old_bitmap_ = SelectObject(dc_.get(), bitmap_.get());
    bits_ = static_cast<unsigned char*>(bits);
    width_ = width;
    height_ = height;
    return true;
  }

  HDC dc() const { return dc_.get(); }
  unsigned char* bits() const { return bits_; }
  int width() const { return width_; }
  int height() const { return height_; }
  int stride() const { return width_ * 4; }

 private:
  MemoryDc dc_;
  GdiBitmap bitmap_;
  HGDIOBJ old_bitmap_ = nullptr;
  unsigned char* bits_ = nullptr;
  int width_ = 0;
  int height_ = 0;
};

}  // namespace brisal
