#include "app/banners.h"

#include <QPixmap>

#include "app/jpeg_image.h"

// The resources live in a static library: nothing would pull their object file into the program
// unless something names them. Q_INIT_RESOURCE must stand outside any namespace.
static void InitBannerResources() {
  Q_INIT_RESOURCE(banners);
}

namespace vn {

QImage BannerImage(const QString& resource) {
  static const bool initialised = (InitBannerResources(), true);
  (void)initialised;
  return LoadJpeg(resource);
}

QLabel* MakeBannerLabel(const QString& resource, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setScaledContents(true);
  const QImage image = BannerImage(resource);
  if (!image.isNull()) label->setPixmap(QPixmap::fromImage(image));
  return label;
}

}  // namespace vn
