// The About window's texts, which must read exactly as they always have.
#include <QLabel>
#include <QListWidget>
#include <QTest>

#include "app/form_about.h"
#include "test_registry.h"

class FormAboutTest : public QObject {
  Q_OBJECT
 private slots:
  void changeListHasTheExactLines() {
    vn::TFormAbout about;
    auto* list = about.findChild<QListWidget*>(QStringLiteral("ListBox_Modif"));
    QVERIFY(list);
    const QStringList expected{
        "     Data                                Modification ",
        "",
        " 2005.10.18 :   Win API.",
        " 2005.11.02 :   Upgrade data partition number 7 to 8.",
        " 2005.12.20 :   Add function of upgrade SatcoDX.",
        " 2006.03.06 :   Download Header(iTotalSize) is *.dld size.",
        " 2006.03.07 :   Size of loader(128K) to loader(64K).",
        " 2006.03.10 :   Modified upgrade property.",
        " 2006.08.08 :   Modified \"Ident for nocheck\" Bug.",
        " 2006.11.20 :   Modified version number to 3.1.00.",
        " 2006.11.21 :   Modified ident check in 3.1.01.",
        " 2006.11.27 :   Modified download header error control in 3.1.02.",
        " 2006.12.26 :   Modified ident check, not write it to file. In version 3.1.03",
        " 2006.12.26 :   Modified com set. In version 3.1.04",
        " 2006.12.26 :   Modified syspath setting. In version 3.1.05",
    };
    QStringList shown;
    for (int row = 0; row < list->count(); ++row) shown << list->item(row)->text();
    QCOMPARE(shown, expected);
  }

  void windowTexts() {
    vn::TFormAbout about;
    QCOMPARE(about.windowTitle(), QStringLiteral("About Upgrade"));
    QVERIFY(about.isModal());
    QStringList labels;
    for (const QLabel* label : about.findChildren<QLabel*>()) labels << label->text();
    for (const char* text : {"Vespanode", "Version :   3.1.05     (Build 3.0.09)",
                             "Windows NT / 2000 / XP", "Memory make use of :  12 M"}) {
      QVERIFY2(labels.contains(QLatin1String(text)), text);
    }
    // The banner is decoded and shown.
    auto* banner = about.findChild<QLabel*>(QStringLiteral("Image_Banner"));
    QVERIFY(banner && !banner->pixmap().isNull());
  }
};

VN_REGISTER_TEST(FormAboutTest)
#include "form_about_test.moc"
