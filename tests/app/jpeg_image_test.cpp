// The banner decoder: whole pictures decode to their size, anything else fails cleanly instead of
// ending the process (libjpeg's default) or showing a half-grey picture.
#include <QBuffer>
#include <QTest>

#include "app/banners.h"
#include "app/jpeg_image.h"
#include "test_registry.h"

namespace {

QByteArray ResourceBytes(const QString& path) {
  (void)vn::BannerImage(path);  // registers the built-in resources
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray EncodeWithQt(const QImage& image, const char* format) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, format);
  return bytes;
}

}  // namespace

class JpegImageTest : public QObject {
  Q_OBJECT
 private slots:
  void wholePicturesDecodeToTheirSizes() {
    QCOMPARE(vn::BannerImage(vn::kMainBanner).size(), QSize(450, 100));
    QCOMPARE(vn::BannerImage(vn::kAboutBanner).size(), QSize(480, 80));
    QImage grey(20, 10, QImage::Format_Grayscale8);
    grey.fill(128);
    QCOMPARE(vn::DecodeJpeg(EncodeWithQt(grey, "JPG")).size(), QSize(20, 10));
    // A flat colour survives JPEG nearly unchanged; a wrong row stride or channel order would not.
    QImage picture(33, 17, QImage::Format_RGB888);
    picture.fill(QColor(200, 40, 90));
    const QImage decoded = vn::DecodeJpeg(EncodeWithQt(picture, "JPG"));
    QCOMPARE(decoded.size(), picture.size());
    for (const QPoint at : {QPoint(0, 0), QPoint(32, 16), QPoint(16, 8)}) {
      const QColor colour = decoded.pixelColor(at);
      QVERIFY2(qAbs(colour.red() - 200) < 6 && qAbs(colour.green() - 40) < 6 &&
                   qAbs(colour.blue() - 90) < 6,
               qPrintable(colour.name()));
    }
  }

  void brokenPicturesFail() {
    const QByteArray whole = ResourceBytes(vn::kMainBanner);
    QVERIFY(!whole.isEmpty());
    // A JPEG whose data after the header is overwritten.
    QByteArray damaged = ResourceBytes(vn::kAboutBanner);
    for (qsizetype i = damaged.size() / 3; i < damaged.size() - 2; ++i) damaged[i] = '\xFF';
    const std::pair<const char*, QByteArray> rows[] = {
        {"cut 2 short", whole.left(whole.size() - 2)},
        {"cut in half", whole.left(whole.size() / 2)},
        {"cut at 200", whole.left(200)},
        {"empty", QByteArray()},
        {"garbage", QByteArray(1000, '\x5A')},
        {"a PNG", EncodeWithQt(QImage(8, 8, QImage::Format_RGB32), "PNG")},
        {"damaged", damaged}};
    for (const auto& [what, bytes] : rows) QVERIFY2(vn::DecodeJpeg(bytes).isNull(), what);
    QVERIFY(vn::LoadJpeg(QStringLiteral(":/no/such.jpg")).isNull());
  }
};

VN_REGISTER_TEST(JpegImageTest)
#include "jpeg_image_test.moc"
