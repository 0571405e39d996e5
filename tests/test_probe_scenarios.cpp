// Whole scenarios through korvena-probe, the way acceptance checks drive the
// component: the host's list, the user's clicks, the virtual clock, dumps.
#include <QColor>
#include <QDir>
#include <QImage>
#include <QJsonArray>

#include "probe_runner.h"

using probe_runner::outputLine;
using probe_runner::runProbe;

namespace {

class ProbeScenario : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    const QColor colours[] = {Qt::red, Qt::green, Qt::blue};
    for (int i = 0; i < 3; ++i) {
      QImage image(40 + i, 30, QImage::Format_RGB32);
      image.fill(colours[i]);
      image.save(dir.filePath(QString("p%1.png").arg(i + 1)));
    }
  }
  QJsonObject run(const QByteArray& body, int line = 0) {
    const QByteArray script = "call srcAppName Host\ncall Style pbMDILoading\ncall ShowForm\n" + body;
    last = runProbe(dir, script);
    EXPECT_EQ(last.status, 0) << last.err.toStdString();
    return outputLine(last.out, line);
  }
  static QJsonArray eventsOf(const QJsonObject& dump, const QString& type) {
    QJsonArray out;
    for (const auto& e : dump["events"].toArray())
      if (e.toObject()["type"].toString() == type) out.append(e);
    return out;
  }
  QTemporaryDir dir;
  probe_runner::ProbeRun last;
};

}  // namespace

TEST_F(ProbeScenario, HostListNavigationAndTheImageList) {
  QJsonObject d = run(R"(host list p1.png p2.png p3.png
click Toolbar.NewWindow
click Toolbar.MoveNext
click Toolbar.MoveNext
click Toolbar.MoveLast
click Toolbar.MoveNext
dump
)");
  QJsonArray nav = eventsOf(d, "ThumbNav");
  ASSERT_EQ(nav.size(), 4);
  EXPECT_EQ(nav[0].toObject()["opened"].toString(), "p1.png");
  EXPECT_EQ(nav[2].toObject()["opened"].toString(), "p3.png");
  EXPECT_TRUE(nav[2].toObject()["bFirstLast"].toBool());
  EXPECT_TRUE(nav[3].toObject()["opened"].isNull());
  EXPECT_TRUE(nav[3].toObject()["bFirstLast"].toBool());
  QJsonArray items = d["toolbar"].toObject()["cboImageName"].toObject()["items"].toArray();
  ASSERT_EQ(items.size(), 3);
  EXPECT_EQ(items[2].toObject()["data"].toInt(), 3);
  EXPECT_EQ(d["CurrentIndex"].toInt(), 3);
  EXPECT_TRUE(d["bNewWindow"].toBool());
  EXPECT_EQ(d["active"].toString(), "toolbar");
  EXPECT_EQ(d["zorder"].toArray()[0].toString(), "toolbar");
  EXPECT_EQ(d["zorder"].toArray()[1].toString(), "photo:3");
  QJsonArray newWin = eventsOf(d, "FireEventNewWin");
  ASSERT_EQ(newWin.size(), 2);  // the load, then the button
  EXPECT_TRUE(newWin[1].toObject()["value"].toBool());
}

TEST_F(ProbeScenario, SlideshowWithRepeatOnTheVirtualClock) {
  QJsonObject d = run(R"(host list p1.png p2.png p3.png
settext txtSecond 2
click mnuPopOptionStartSlideshow
dump
advance 8000
dump
)");
  EXPECT_EQ(d["toolbar"].toObject()["tag"].toString(), "Autoslide");
  EXPECT_FALSE(d["toolbar"].toObject()["visible"].toBool());
  EXPECT_EQ(d["cursor"].toObject()["counter"].toInt(), -1);
  EXPECT_EQ(d["toolbar"].toObject()["tmrSlideShow"].toObject()["interval"].toInt(), 2000);
  QJsonObject later = outputLine(last.out, 1);
  QJsonArray nav = eventsOf(later, "ThumbNav");
  ASSERT_EQ(nav.size(), 4);
  const int dirs[] = {3, 3, 1, 3};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(nav[i].toObject()["dir"].toInt(), dirs[i]);
}

TEST_F(ProbeScenario, ErrorsAreEventsAndBadFilesGiveOneMessage) {
  QFile text(dir.filePath("notes.png"));
  ASSERT_TRUE(text.open(QIODevice::WriteOnly));
  text.write("plain text");
  text.close();
  QJsonObject d = run(R"(call OpenImage notes.png notes.png
host throw 7 "host failed"
click Toolbar.MovePrevious
pick cboZoomRate 40
keydown photo:1 112
dump
)");
  QJsonArray boxes = eventsOf(d, "msgbox");
  ASSERT_EQ(boxes.size(), 1);
  EXPECT_EQ(boxes[0].toObject()["title"].toString(), "Error");
  EXPECT_EQ(boxes[0].toObject()["flags"].toInt(), 48);
  QJsonArray errors = eventsOf(d, "error");
  ASSERT_EQ(errors.size(), 2);
  EXPECT_EQ(errors[0].toObject()["number"].toInt(), 7);
  EXPECT_EQ(errors[0].toObject()["description"].toString(), "host failed");
  EXPECT_EQ(errors[0].toObject()["during"].toString(), "click Toolbar.MovePrevious");
  EXPECT_EQ(errors[1].toObject()["number"].toInt(), 380);
  QJsonArray help = eventsOf(d, "help");
  ASSERT_EQ(help.size(), 1);
  EXPECT_TRUE(help[0].toObject()["file"].toString().endsWith("/Lumastra.chm"));
  QJsonObject photo = d["PhotoWindows"].toArray()[0].toObject();
  EXPECT_TRUE(photo["visible"].toBool());
  EXPECT_EQ(d["cursor"].toObject()["mousePointer"].toInt(), 0);
}

TEST_F(ProbeScenario, UnloadStoresPlaceAndRateInTheRegistry) {
  QJsonObject d = run(R"(move toolbar 4500 600
pick cboZoomRate 0
call UnloadForm
dump
)");
  QJsonObject values = d["registry"].toObject()["SOFTWARE\\Host\\Dialog\\D9"].toObject();
  EXPECT_EQ(values["Left"].toObject()["value"].toString(), "4500");
  EXPECT_EQ(values["Top"].toObject()["value"].toString(), "600");
  EXPECT_EQ(values["ZoomRate"].toObject()["type"].toString(), "sz");
  EXPECT_EQ(values["ZoomRate"].toObject()["value"].toString(), "-1");
  EXPECT_FALSE(d["toolbar"].toObject()["loaded"].toBool());
}

TEST_F(ProbeScenario, StoreThatDoesNotParseIsDumpedAsItsErrorAndTheScriptGoesOn) {
  ASSERT_TRUE(QDir(dir.path()).mkdir("store"));
  QFile broken(dir.filePath("store/HKEY_LOCAL_MACHINE.reg"));
  ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
  broken.write("not a store\n");
  broken.close();
  last = runProbe(dir, "registry store\ncall srcAppName Host\ncall Style pbMDILoading\ncall ShowForm\ndump\n"
                       "call UnloadForm\ndump\n");
  ASSERT_EQ(last.status, 0) << last.err.toStdString();
  const QJsonObject first = outputLine(last.out, 0), second = outputLine(last.out, 1);
  EXPECT_EQ(first["registry"].toObject(),
            QJsonObject({{"error", "settings store, line 1: the first line is not REGEDIT4"}}));
  ASSERT_EQ(eventsOf(second, "error").size(), 1);  // the unload could not save the toolbar's place
  EXPECT_EQ(eventsOf(second, "error")[0].toObject()["number"].toInteger(), -2147221504LL + 2000 + 1009);
  EXPECT_EQ(second["registry"], first["registry"]);
}

TEST_F(ProbeScenario, ScrollBarsAndResizeThroughTheProbe) {
  QImage big(1200, 900, QImage::Format_RGB32);
  big.fill(Qt::gray);
  big.save(dir.filePath("big.png"));
  QJsonObject d = run(R"(call OpenImage big.png big.png
pick cboZoomRate 11
scroll photo:1 V 500
dump
)");
  QJsonObject photo = d["PhotoWindows"].toArray()[0].toObject();
  EXPECT_EQ(photo["width"].toDouble(), 15360);
  EXPECT_EQ(photo["height"].toDouble(), 11520);
  QJsonObject v = photo["VScroll"].toObject();
  EXPECT_TRUE(v["visible"].toBool());
  EXPECT_EQ(v["max"].toInt(), 32000);
  EXPECT_EQ(v["value"].toInt(), 500);
  EXPECT_LT(photo["picPhoto"].toObject()["top"].toDouble(), 0);
  EXPECT_EQ(photo["caption"].toString(), "big.png  1600%");
}
