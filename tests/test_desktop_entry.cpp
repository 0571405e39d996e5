// korvena-view's desktop entry offers it for every picture format the
// image readers here take, so that file managers list it under "Open with".
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QSet>
#include <QString>

namespace {

TEST(DesktopEntry, OffersTheViewerForEveryFormatItReads) {
  QFile entry(QDir::cleanPath(QStringLiteral(KORVENA_TEST_DATA "/../../share/korvena-view.desktop")));
  ASSERT_TRUE(entry.open(QIODevice::ReadOnly | QIODevice::Text));
  QSet<QString> listed;
  for (const QByteArray& line : entry.readAll().split('\n'))
    if (line.startsWith("MimeType="))
      for (const QString& type : QString::fromUtf8(line.mid(9)).split(';', Qt::SkipEmptyParts)) listed.insert(type);
  ASSERT_FALSE(listed.isEmpty());
  for (const QByteArray& type : QImageReader::supportedMimeTypes())
    EXPECT_TRUE(listed.contains(QString::fromLatin1(type))) << type.constData() << " is read but not offered";
}

}  // namespace
