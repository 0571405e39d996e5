// The toolbar's texts on real widgets at the default font: every entry of
// the zoom box reads in full, in the box and in its list.
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>

#include "component_fixture.h"
#include "kit/qt/qt_platform.h"
#include "korvena/Platform.h"

namespace {

class ToolbarText : public fixture::ComponentTest {
 protected:
  void SetUp() override {
    if (!QCoreApplication::instance()) {
      static int argc = 1;
      static char name[] = "korvena_tests";
      static char* argv[] = {name, nullptr};
      new QApplication(argc, argv);
    }
    ComponentTest::SetUp();
    korvena::UsePlatform(korvena::Platform::Qt);
  }
  void TearDown() override {
    ComponentTest::TearDown();
    korvena::UsePlatform(korvena::Platform::Headless);
    QCoreApplication::processEvents();
  }
};

}  // namespace

TEST_F(ToolbarText, EveryZoomEntryReadsInFullInTheBoxAndItsList) {
  start();
  app.OpenImage(picture("a.png", 40, 30), "a.png");
  clickButton("Details");
  for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
  auto* zoom = qobject_cast<QComboBox*>(kit::qt::QtPlatform::current()->widget(bar().cboZoomRate));
  ASSERT_NE(zoom, nullptr);
  QLineEdit* edit = zoom->lineEdit();
  ASSERT_NE(edit, nullptr);
  const QFontMetrics metrics(edit->font());
  const int editRoom = edit->width() - edit->textMargins().left() - edit->textMargins().right() - 4;
  zoom->showPopup();
  QCoreApplication::processEvents();
  const int listRoom = zoom->view()->viewport()->width();
  zoom->hidePopup();
  ASSERT_GT(zoom->count(), 0);
  for (int i = 0; i < zoom->count(); ++i) {
    const int needed = metrics.horizontalAdvance(zoom->itemText(i));
    EXPECT_LE(needed, editRoom) << zoom->itemText(i).toStdString() << " is cut in the box";
    EXPECT_LE(needed + 8, listRoom) << zoom->itemText(i).toStdString() << " is cut in the list";
  }
}
