#pragma once
// The host's list of pictures: built from the paths on the command line
// (a folder gives its pictures in natural file-name order, a file itself),
// with the current position that first, previous, next and last move.
// Header-only, so the tests use the same code as korvena-view.
#include <QByteArray>
#include <QCollator>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QLocale>
#include <QSet>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstdint>
#include <optional>

namespace korvena::host {

// File-name suffixes (lower case) of the picture formats Qt can read here.
inline QSet<QString> PictureSuffixes() {
  QSet<QString> suffixes;
  for (const QByteArray& format : QImageReader::supportedImageFormats())
    suffixes.insert(QString::fromLatin1(format).toLower());
  if (suffixes.contains(QStringLiteral("jpeg"))) suffixes.insert(QStringLiteral("jpg"));
  if (suffixes.contains(QStringLiteral("tiff"))) suffixes.insert(QStringLiteral("tif"));
  return suffixes;
}

// Sorts names as a person reads them: "photo 2" before "photo 10", case
// ignored; names that compare equal keep a stable, case-sensitive order.
inline void SortNatural(QStringList& names) {
  // The C locale collates by code point and ignores the numeric mode, so a
  // process without a locale sorts as English does.
  QLocale locale;
  if (locale.language() == QLocale::C) locale = QLocale(QLocale::English, QLocale::UnitedStates);
  QCollator collator(locale);
  collator.setNumericMode(true);
  collator.setCaseSensitivity(Qt::CaseInsensitive);
  std::stable_sort(names.begin(), names.end(), [&](const QString& a, const QString& b) {
    const int order = collator.compare(a, b);
    return order != 0 ? order < 0 : a < b;
  });
}

class PhotoList {
 public:
  // Adds the pictures of every path in order. A folder adds its pictures
  // (files whose suffix is a readable picture format; not its subfolders),
  // a file is added as it is: whether it decodes is for the viewer to say.
  // Returns an error text for the first path that does not exist or cannot
  // be read; nothing is added for that path.
  std::optional<QString> addPaths(const QStringList& paths, const QSet<QString>& suffixes) {
    std::optional<QString> firstError;
    for (const QString& path : paths) {
      if (auto error = addPath(path, suffixes); error && !firstError) firstError = error;
    }
    return firstError;
  }

  std::optional<QString> addPath(const QString& path, const QSet<QString>& suffixes) {
    const QFileInfo info(path);
    if (!info.exists()) return QStringLiteral("no such file or folder: %1").arg(path);
    if (!info.isReadable()) return QStringLiteral("cannot read: %1").arg(path);
    if (!info.isDir()) {
      files_.append(info.absoluteFilePath());
      return std::nullopt;
    }
    const QDir dir(info.absoluteFilePath());
    QStringList names;
    for (const QFileInfo& entry : dir.entryInfoList(QDir::Files | QDir::Readable | QDir::Hidden)) {
      if (suffixes.contains(entry.suffix().toLower())) names.append(entry.fileName());
    }
    SortNatural(names);
    for (const QString& name : names) files_.append(dir.filePath(name));
    return std::nullopt;
  }

  const QStringList& files() const { return files_; }
  bool empty() const { return files_.isEmpty(); }
  qsizetype size() const { return files_.size(); }
  qsizetype current() const { return current_; }

  // The picture a move of the toolbar asks for. bFirstLast tells whether
  // the picture reached is at either end of the list. Returns the index to
  // open, or nothing when previous or next cannot move any further (the
  // current picture stays). Directions outside 1 to 4 change nothing.
  std::optional<qsizetype> move(uint8_t direction, bool& bFirstLast) {
    if (files_.isEmpty()) {
      bFirstLast = true;
      return std::nullopt;
    }
    const qsizetype last = files_.size() - 1;
    std::optional<qsizetype> target;
    switch (direction) {
      case 1: target = 0; break;
      case 2: if (current_ > 0) target = current_ - 1; break;
      case 3: if (current_ < last) target = current_ + 1; break;
      case 4: target = last; break;
      default: break;
    }
    if (target) current_ = *target;
    bFirstLast = current_ == 0 || current_ == last;
    return target;
  }

 private:
  QStringList files_;
  qsizetype current_ = 0;
};

}  // namespace korvena::host
