#include "app/form_about.h"

#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "app/banners.h"
#include "form/form_texts.h"

namespace vn {
namespace {

// 505 x 500 outside, with the title bar and the borders of a usual desktop around it.
constexpr int kClientWidth = 497;
constexpr int kClientHeight = 473;
constexpr int kModificationItemHeight = 15;

QFont ArialOfPixels(int pixels) {
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(pixels);
  return font;
}

QLabel* MakeLabel(QWidget* panel, const QString& text, QPoint topLeft) {
  auto* label = new QLabel(text, panel);
  label->setTextFormat(Qt::PlainText);  // keep the runs of spaces
  label->setFont(ArialOfPixels(14));
  label->move(topLeft);
  label->adjustSize();
  return label;
}

void MakeSeparator(QWidget* panel, QRect geometry) {
  auto* line = new QFrame(panel);
  line->setFrameStyle(QFrame::HLine | QFrame::Sunken);
  line->setGeometry(geometry);
}

QString Text(const char* text) {
  return QString::fromUtf8(text);
}

}  // namespace

TFormAbout::TFormAbout(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setObjectName(QStringLiteral("FormAbout"));
  setWindowTitle(Text(kAboutTitle));
  setModal(true);
  setFixedSize(kClientWidth, kClientHeight);

  auto* panel = new QFrame(this);
  panel->setObjectName(QStringLiteral("P_About"));
  panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  panel->setGeometry(rect());

  QLabel* banner = MakeBannerLabel(kAboutBanner, panel);
  banner->setObjectName(QStringLiteral("Image_Banner"));
  banner->setGeometry(8, 8, 480, 80);

  QLabel* name = MakeLabel(panel, Text(kAboutName), QPoint(11, 92));
  name->setObjectName(QStringLiteral("Label_Name"));
  QFont display;
  display.setStyleHint(QFont::Serif);
  display.setFamily(display.defaultFamily());
  display.setPixelSize(56);
  display.setBold(true);
  display.setItalic(true);
  name->setFont(display);
  name->adjustSize();

  MakeLabel(panel, Text(kAboutVersion), QPoint(59, 165))
      ->setObjectName(QStringLiteral("Label_Version"));
  MakeSeparator(panel, QRect(9, 190, 260, 2));
  MakeLabel(panel, Text(kAboutSystem), QPoint(59, 213))
      ->setObjectName(QStringLiteral("Label_System"));
  MakeLabel(panel, Text(kAboutMemory), QPoint(59, 251))
      ->setObjectName(QStringLiteral("Label_Memory"));
  // Below the fixed texts: which build this is, the number a bug report needs.
  QLabel* build = MakeLabel(panel, QString::fromStdString(AboutBuildLine()), QPoint(59, 289));
  build->setObjectName(QStringLiteral("Label_Build"));
  build->setForegroundRole(QPalette::PlaceholderText);

  auto* ok = new QPushButton(Text(kAboutOk), panel);
  ok->setObjectName(QStringLiteral("Button_OK"));
  ok->setGeometry(405, 316, 75, 25);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  MakeSeparator(panel, QRect(8, 349, 480, 2));

  auto* group = new QGroupBox(Text(kAboutGroupCaption), panel);
  group->setGeometry(8, 360, 481, 105);
  auto* list = new QListWidget(group);
  list->setObjectName(QStringLiteral("ListBox_Modif"));
  list->setFrameShape(QFrame::NoFrame);
  list->setFont(ArialOfPixels(12));
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setUniformItemSizes(true);
  QPalette palette = list->palette();
  palette.setColor(QPalette::Base, palette.color(QPalette::Button));
  list->setPalette(palette);
  for (const std::string& line : ModificationLines()) {
    auto* item = new QListWidgetItem(QString::fromStdString(line), list);
    item->setSizeHint(QSize(0, kModificationItemHeight));
  }
  auto* layout = new QVBoxLayout(group);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->addWidget(list);

  if (const QScreen* screen = this->screen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

}  // namespace vn
