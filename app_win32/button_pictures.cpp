#include "app_win32/button_pictures.h"

#include <map>

#include "app_win32/window_look.h"

namespace vn {
namespace {

constexpr int kSide = 16;

// Draws `picture` in a 16 x 16 frame; `ink` is the colour of every stroke and fill when drawing
// the mask, or kInColour for the picture's own colours.
constexpr COLORREF kInColour = CLR_INVALID;

void DrawPicture(HDC dc, ButtonPicture picture, COLORREF ink) {
  auto colour = [ink](COLORREF own) { return ink == kInColour ? own : ink; };
  auto scaled = [](int x, int y) { return POINT{Scaled(x), Scaled(y)}; };
  HPEN pen = CreatePen(PS_SOLID, Scaled(2), colour(RGB(0x30, 0x30, 0x30)));
  HGDIOBJ oldPen = SelectObject(dc, pen);
  HBRUSH brush = nullptr;
  auto fill = [&](COLORREF own) {
    HBRUSH next = CreateSolidBrush(colour(own));
    SelectObject(dc, next);
    if (brush) DeleteObject(brush);
    brush = next;
  };
  switch (picture) {
    case ButtonPicture::kOpen: {
      fill(RGB(0xF0, 0xC0, 0x40));
      const POINT folder[] = {scaled(1, 3),  scaled(6, 3),   scaled(8, 5),
                              scaled(14, 5), scaled(14, 13), scaled(1, 13)};
      Polygon(dc, folder, 6);
      break;
    }
    case ButtonPicture::kSave: {
      fill(RGB(0x30, 0x60, 0xC0));
      Rectangle(dc, Scaled(1), Scaled(1), Scaled(15), Scaled(15));
      fill(RGB(0xFF, 0xFF, 0xFF));
      Rectangle(dc, Scaled(4), Scaled(2), Scaled(12), Scaled(7));
      break;
    }
    case ButtonPicture::kStart: {
      fill(RGB(0x20, 0xA0, 0x30));
      const POINT triangle[] = {scaled(3, 2), scaled(14, 8), scaled(3, 14)};
      Polygon(dc, triangle, 3);
      break;
    }
    case ButtonPicture::kReset: {
      HPEN arrowPen = CreatePen(PS_SOLID, Scaled(2), colour(RGB(0x20, 0x60, 0xC0)));
      SelectObject(dc, arrowPen);
      // Counter-clockwise from the top round to the upper right, where the head points on.
      Arc(dc, Scaled(2), Scaled(2), Scaled(14), Scaled(14), Scaled(8), Scaled(2), Scaled(14),
          Scaled(5));
      fill(RGB(0x20, 0x60, 0xC0));
      const POINT head[] = {scaled(10, 1), scaled(15, 1), scaled(15, 6)};
      Polygon(dc, head, 3);
      SelectObject(dc, pen);
      DeleteObject(arrowPen);
      break;
    }
    case ButtonPicture::kClose: {
      HPEN crossPen = CreatePen(PS_SOLID, Scaled(3), colour(RGB(0xC0, 0x20, 0x20)));
      SelectObject(dc, crossPen);
      MoveToEx(dc, Scaled(3), Scaled(3), nullptr);
      LineTo(dc, Scaled(13), Scaled(13));
      MoveToEx(dc, Scaled(13), Scaled(3), nullptr);
      LineTo(dc, Scaled(3), Scaled(13));
      SelectObject(dc, pen);
      DeleteObject(crossPen);
      break;
    }
  }
  SelectObject(dc, oldPen);
  SelectObject(dc, GetStockObject(WHITE_BRUSH));
  DeleteObject(pen);
  if (brush) DeleteObject(brush);
}

HICON MakeIcon(ButtonPicture picture) {
  const int side = Scaled(kSide);
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP colour = CreateCompatibleBitmap(screen, side, side);
  HBITMAP mask = CreateBitmap(side, side, 1, 1, nullptr);
  const RECT frame{0, 0, side, side};

  // The picture on black, and its mask: white where the background shows through.
  HGDIOBJ previous = SelectObject(dc, colour);
  FillRect(dc, &frame, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  DrawPicture(dc, picture, kInColour);
  SelectObject(dc, mask);
  FillRect(dc, &frame, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  DrawPicture(dc, picture, RGB(0, 0, 0));
  SelectObject(dc, previous);

  ICONINFO info{};
  info.fIcon = TRUE;
  info.hbmColor = colour;
  info.hbmMask = mask;
  HICON icon = CreateIconIndirect(&info);
  DeleteObject(colour);
  DeleteObject(mask);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
  return icon;
}

}  // namespace

HICON ButtonIcon(ButtonPicture picture) {
  static std::map<ButtonPicture, HICON> icons;
  HICON& icon = icons[picture];
  if (!icon) icon = MakeIcon(picture);
  return icon;
}

}  // namespace vn
