#pragma once
// The banner pictures: JPEG resources of the program, decoded by Windows' own imaging component
// and drawn stretched over their area.
#include <windows.h>

namespace vn {

class BannerPicture {
 public:
  // Decodes resource `resourceId` (RCDATA); an empty picture when that fails: the window works
  // without it. COM must be initialised on this thread.
  explicit BannerPicture(int resourceId);
  ~BannerPicture();
  BannerPicture(const BannerPicture&) = delete;
  BannerPicture& operator=(const BannerPicture&) = delete;

  bool Empty() const { return bitmap_ == nullptr; }
  // Stretched over `area`; nothing when empty.
  void Draw(HDC dc, const RECT& area) const;

 private:
  HBITMAP bitmap_ = nullptr;
  int width_ = 0;
  int height_ = 0;
};

}  // namespace vn
