// The built korvena-probe run on whole scripts, the way acceptance checks
// drive the component: the host's list, the user's clicks, the virtual clock,
// the settings store, and the JSON lines of its dumps.
#include <gtest/gtest.h>

#include <QColor>
#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

namespace {

class Probe : public ::testing::Test {
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
  // Runs the probe on `script`, written into the folder as script.txt; its exit status.
  int runScript(const QByteArray& script) {
    write("script.txt", script);
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TMPDIR", dir.path());  // so the store folder can be seen to go
    process.setProcessEnvironment(env);
    process.start(KORVENA_PROBE, {dir.filePath("script.txt")});
    EXPECT_TRUE(process.waitForFinished(30000));
    out = process.readAllStandardOutput();
    err = process.readAllStandardError();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  }
  // The n-th dump of the last run.
  QJsonObject dump(int n) {
    const QList<QByteArray> lines = out.split('\n');
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(lines.value(n), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << lines.value(n).toStdString();
    return doc.object();
  }
  // Runs a script that starts the component the usual way; its first dump.
  QJsonObject run(const QByteArray& body) {
    EXPECT_EQ(runScript("call srcAppName Host\ncall Style pbMDILoading\ncall ShowForm\n" + body), 0)
        << err.toStdString();
    return dump(0);
  }
  static QJsonArray eventsOf(const QJsonObject& dump, const QString& type) {
    QJsonArray found;
    for (const auto& e : dump["events"].toArray())
      if (e.toObject()["type"].toString() == type) found.append(e);
    return found;
  }
  void write(const QString& name, const QByteArray& text) {
    QFile file(dir.filePath(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
  }
  QTemporaryDir dir;
  QByteArray out, err;
};

}  // namespace

TEST_F(Probe, RegistryDumpKeepsFirstSpellingsTheStoreFolderGoesOrIsNamedAndBadLinesStop) {
  ASSERT_EQ(runScript(R"(# a fresh store for every run
screen 12000 9000
dump
regset SOFTWARE\Host\Dialog\D9 Left sz 1234
regset software\host\dialog\d9 TOP dword 4294967295
regset SOFTWARE\HOST\Dialog\D9 left sz "say \"hi\""
regset "SOFTWARE\\Other" "" dword 7   # the default value
dump
)"),
            0)
      << err.toStdString();
  EXPECT_TRUE(err.isEmpty());
  EXPECT_EQ(out.count('\n'), 2);
  const QJsonObject first = dump(0);
  EXPECT_EQ(first["screen"].toObject(), (QJsonObject{{"width", 12000}, {"height", 9000}}));
  EXPECT_TRUE(first["registry"].toObject().isEmpty());
  EXPECT_TRUE(first["events"].toArray().isEmpty());
  EXPECT_TRUE(first["cursor"].toObject().contains("bCursorShown"));
  // Keys and names keep the case they were first written with; a value is replaced in place.
  const QJsonObject reg = dump(1)["registry"].toObject();
  EXPECT_EQ(reg["SOFTWARE\\Host\\Dialog\\D9"].toObject(),
            (QJsonObject{{"Left", QJsonObject{{"type", "sz"}, {"value", "say \"hi\""}}},
                         {"TOP", QJsonObject{{"type", "dword"}, {"value", 4294967295.0}}}}));
  EXPECT_EQ(reg.keys(), (QStringList{"SOFTWARE\\Host\\Dialog\\D9", "SOFTWARE\\Other"}));
  EXPECT_EQ(reg["SOFTWARE\\Other"].toObject()[""].toObject()["value"].toDouble(), 7);
  // The temporary store folder is gone.
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
            (QStringList{"p1.png", "p2.png", "p3.png", "script.txt"}));
  // A named store folder.
  ASSERT_TRUE(QDir(dir.path()).mkdir("store"));
  ASSERT_EQ(runScript("registry store\nregset A\\B c sz d\ndump\n"), 0) << err.toStdString();
  EXPECT_TRUE(QFile::exists(dir.filePath("store/HKEY_LOCAL_MACHINE.reg")));
  EXPECT_EQ(runScript("dump\nregistry missing\n"), 2);
  EXPECT_TRUE(err.startsWith("line 2: no such folder: ")) << err.toStdString();
  // A store that does not parse is dumped as its error; the unload cannot
  // save the toolbar's place (an error event), the probe's own write stops the script.
  write("store/HKEY_LOCAL_MACHINE.reg", "not a store\n");
  EXPECT_EQ(runScript("registry store\ncall srcAppName Host\ncall Style pbMDILoading\ncall ShowForm\ndump\n"
                      "call UnloadForm\ndump\nregset A\\B c sz d\n"),
            2);
  EXPECT_TRUE(err.startsWith("line 8: ")) << err.toStdString();
  const QJsonObject broken = dump(0), unloaded = dump(1);
  EXPECT_EQ(broken["registry"].toObject(),
            QJsonObject({{"error", "settings store, line 1: the first line is not REGEDIT4"}}));
  ASSERT_EQ(eventsOf(unloaded, "error").size(), 1);
  EXPECT_EQ(eventsOf(unloaded, "error")[0].toObject()["number"].toInteger(), -2147221504LL + 2000 + 1009);
  EXPECT_EQ(unloaded["registry"], broken["registry"]);
  // A window that does not exist is a bad target, not a runtime error.
  EXPECT_EQ(runScript("dump\nactivate photo:9\n"), 2);
  EXPECT_EQ(err, "line 2: photo:9 does not exist\n");
}

TEST_F(Probe, HostListNavigationTheImageListAndASlideshowOnTheVirtualClock) {
  const QJsonObject d = run(R"(host list p1.png p2.png p3.png
click Toolbar.NewWindow
click Toolbar.MoveNext
click Toolbar.MoveNext
click Toolbar.MoveLast
click Toolbar.MoveNext
dump
settext txtSecond 2
click mnuPopOptionStartSlideshow
advance 6000
dump
)");
  const QJsonArray nav = eventsOf(d, "ThumbNav");
  ASSERT_EQ(nav.size(), 4);
  EXPECT_EQ(nav[0].toObject()["opened"].toString(), "p1.png");
  EXPECT_EQ(nav[2].toObject()["opened"].toString(), "p3.png");
  EXPECT_TRUE(nav[2].toObject()["bFirstLast"].toBool());
  EXPECT_TRUE(nav[3].toObject()["opened"].isNull());
  EXPECT_TRUE(nav[3].toObject()["bFirstLast"].toBool());
  const QJsonArray items = d["toolbar"].toObject()["cboImageName"].toObject()["items"].toArray();
  ASSERT_EQ(items.size(), 3);
  EXPECT_EQ(items[2].toObject()["data"].toInt(), 3);
  EXPECT_EQ(d["CurrentIndex"].toInt(), 3);
  EXPECT_TRUE(d["bNewWindow"].toBool());
  EXPECT_EQ(d["active"].toString(), "toolbar");
  EXPECT_EQ(d["zorder"].toArray().toVariantList().mid(0, 2), QVariantList({"toolbar", "photo:3"}));
  const QJsonArray newWin = eventsOf(d, "FireEventNewWin");
  ASSERT_EQ(newWin.size(), 2);  // the load, then the button
  EXPECT_TRUE(newWin[1].toObject()["value"].toBool());
  // The clock drives the show: three ticks in six seconds. Where it goes after the
  // last picture and how a running show looks are the toolbar tests'.
  EXPECT_EQ(eventsOf(dump(1), "ThumbNav").size(), 3);
}

TEST_F(Probe, ErrorsAreEventsBadFilesGiveOneMessageAndScrollBarsFollowTheZoom) {
  write("notes.png", "plain text");
  QImage big(1200, 900, QImage::Format_RGB32);
  big.fill(Qt::gray);
  big.save(dir.filePath("big.png"));
  const QJsonObject d = run(R"(call OpenImage notes.png notes.png
host throw 7 "host failed"
click Toolbar.MovePrevious
call FireEventThumbNav 1
pick cboZoomRate 40
keydown photo:1 112
dump
call OpenImage big.png big.png
pick cboZoomRate 11
scroll photo:1 V 500
dump
)");
  const QJsonArray boxes = eventsOf(d, "msgbox");
  ASSERT_EQ(boxes.size(), 1);
  EXPECT_EQ(boxes[0].toObject()["title"].toString(), "Error");
  EXPECT_EQ(boxes[0].toObject()["flags"].toInt(), 48);
  // The host's error, from a click and from a call, and the component's own.
  const QJsonArray errors = eventsOf(d, "error");
  ASSERT_EQ(errors.size(), 3);
  for (int i : {0, 1}) {
    EXPECT_EQ(errors[i].toObject()["number"].toInt(), 7);
    EXPECT_EQ(errors[i].toObject()["description"].toString(), "host failed");
  }
  EXPECT_EQ(errors[0].toObject()["during"].toString(), "click Toolbar.MovePrevious");
  EXPECT_EQ(errors[2].toObject()["number"].toInt(), 380);
  const QJsonArray help = eventsOf(d, "help");
  ASSERT_EQ(help.size(), 1);
  EXPECT_TRUE(help[0].toObject()["file"].toString().endsWith("/Lumastra.chm"));
  EXPECT_TRUE(d["PhotoWindows"].toArray()[0].toObject()["visible"].toBool());
  EXPECT_EQ(d["cursor"].toObject()["mousePointer"].toInt(), 0);
  const QJsonObject photo = dump(1)["PhotoWindows"].toArray()[0].toObject();
  // How far the bar reaches at this size is the photo-window tests'; the probe scrolls it.
  const QJsonObject v = photo["VScroll"].toObject();
  EXPECT_TRUE(v["visible"].toBool());
  EXPECT_EQ(v["value"].toInt(), 500);
  EXPECT_LT(photo["picPhoto"].toObject()["top"].toDouble(), 0);
  EXPECT_EQ(photo["caption"].toString(), "big.png  1600%");
}
