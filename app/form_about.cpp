#include "app/form_about.h"

#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "app/banners.h"
#include "vespanode/version.h"

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

}  // namespace

QStringList TFormAbout::ModificationLines() {
  return {
      QStringLiteral("     Data                                Modification "),
      QString(),
      QStringLiteral(" 2005.10.18 :   Win API."),
      QStringLiteral(" 2005.11.02 :   Upgrade data partition number 7 to 8."),
      QStringLiteral(" 2005.12.20 :   Add function of upgrade SatcoDX."),
      QStringLiteral(" 2006.03.06 :   Download Header(iTotalSize) is *.dld size."),
      QStringLiteral(" 2006.03.07 :   Size of loader(128K) to loader(64K)."),
      QStringLiteral(" 2006.03.10 :   Modified upgrade property."),
      QStringLiteral(" 2006.08.08 :   Modified \"Ident for nocheck\" Bug."),
      QStringLiteral(" 2006.11.20 :   Modified version number to 3.1.00."),
      QStringLiteral(" 2006.11.21 :   Modified ident check in 3.1.01."),
      QStringLiteral(" 2006.11.27 :   Modified download header error control in 3.1.02."),
      QStringLiteral(
          " 2006.12.26 :   Modified ident check, not write it to file. In version 3.1.03"),
      QStringLiteral(" 2006.12.26 :   Modified com set. In version 3.1.04"),
      QStringLiteral(" 2006.12.26 :   Modified syspath setting. In version 3.1.05"),
  };
}

TFormAbout::TFormAbout(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setObjectName(QStringLiteral("FormAbout"));
  setWindowTitle(QStringLiteral("About Upgrade"));
  setModal(true);
  setFixedSize(kClientWidth, kClientHeight);

  auto* panel = new QFrame(this);
  panel->setObjectName(QStringLiteral("P_About"));
  panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  panel->setGeometry(rect());

  QLabel* banner = MakeBannerLabel(kAboutBanner, panel);
  banner->setObjectName(QStringLiteral("Image_Banner"));
  banner->setGeometry(8, 8, 480, 80);

  QLabel* name = MakeLabel(panel, QStringLiteral("Vespanode"), QPoint(11, 92));
  name->setObjectName(QStringLiteral("Label_Name"));
  QFont display;
  display.setStyleHint(QFont::Serif);
  display.setFamily(display.defaultFamily());
  display.setPixelSize(56);
  display.setBold(true);
  display.setItalic(true);
  name->setFont(display);
  name->adjustSize();

  MakeLabel(panel, QStringLiteral("Version :   3.1.05     (Build 3.0.09)"), QPoint(59, 165))
      ->setObjectName(QStringLiteral("Label_Version"));
  MakeSeparator(panel, QRect(9, 190, 260, 2));
  MakeLabel(panel, QStringLiteral("Windows NT / 2000 / XP"), QPoint(59, 213))
      ->setObjectName(QStringLiteral("Label_System"));
  MakeLabel(panel, QStringLiteral("Memory make use of :  12 M"), QPoint(59, 251))
      ->setObjectName(QStringLiteral("Label_Memory"));
  // Below the fixed texts: which build this is, the number a bug report needs.
  QLabel* build = MakeLabel(panel, QStringLiteral("vespanode %1").arg(QLatin1String(kBuildVersion)),
                            QPoint(59, 289));
  build->setObjectName(QStringLiteral("Label_Build"));
  build->setForegroundRole(QPalette::PlaceholderText);

  auto* ok = new QPushButton(QStringLiteral("OK"), panel);
  ok->setObjectName(QStringLiteral("Button_OK"));
  ok->setGeometry(405, 316, 75, 25);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  MakeSeparator(panel, QRect(8, 349, 480, 2));

  auto* group = new QGroupBox(QStringLiteral(" Modification "), panel);
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
  for (const QString& line : ModificationLines()) {
    auto* item = new QListWidgetItem(line, list);
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
