#pragma once
// The banner pictures at the top of the main window and the About window. They are JPEG files
// built into the program (assets/, drawn by scripts/make-banners).
#include <QImage>
#include <QLabel>
#include <QString>

namespace vn {

inline const QString kMainBanner = QStringLiteral(":/banners/main_banner.jpg");    // 450 x 100
inline const QString kAboutBanner = QStringLiteral(":/banners/about_banner.jpg");  // 480 x 80

// The decoded banner; a null image if it cannot be decoded.
QImage BannerImage(const QString& resource);

// A picture widget that shows the banner stretched over its whole area (empty when the banner
// cannot be decoded: the window works without it).
QLabel* MakeBannerLabel(const QString& resource, QWidget* parent);

}  // namespace vn
