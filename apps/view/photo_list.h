#pragma once
// The host's list of pictures: built from the paths on the command line
// (a folder gives its pictures in natural file-name order, a file itself),
// with the current position that first, previous, next and last move.
// Header-only, so the tests use the same code as korvena-view.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QCollator>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QLocale>
#include <QSet>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <vector>

#include "kit/picture_codecs.h"

namespace korvena::host {

// File-name suffixes (lower case) of the picture formats Qt and the kit's
// own decoders read here.
inline QSet<QString> PictureSuffixes() {
  QSet<QString> suffixes;
  for (const QByteArray& format : QImageReader::supportedImageFormats())
    suffixes.insert(QString::fromLatin1(format).toLower());
  if (suffixes.contains(QStringLiteral("jpeg"))) suffixes.insert(QStringLiteral("jpg"));
  if (suffixes.contains(QStringLiteral("tiff"))) suffixes.insert(QStringLiteral("tif"));
  for (const char* suffix : kit::codecs::kSuffixes) suffixes.insert(QString::fromLatin1(suffix));
  return suffixes;
}

// A file or folder name as the file system holds it (bytes, not always valid
// UTF-8), with the text shown for it.
struct FileName {
  QByteArray bytes;
  QString text;
};

// Sorts names as a person reads them: "photo 2" before "photo 10", case
// ignored; names that compare equal keep a stable, case-sensitive order.
template <class Names, class TextOf>
inline void SortNaturalBy(Names& names, TextOf textOf) {
  // The C locale collates by code point and ignores the numeric mode, so a
  // process without a locale sorts as English does.
  QLocale locale;
  if (locale.language() == QLocale::C) locale = QLocale(QLocale::English, QLocale::UnitedStates);
  QCollator collator(locale);
  collator.setNumericMode(true);
  collator.setCaseSensitivity(Qt::CaseInsensitive);
  std::stable_sort(names.begin(), names.end(), [&](const auto& a, const auto& b) {
    const int order = collator.compare(textOf(a), textOf(b));
    return order != 0 ? order < 0 : textOf(a) < textOf(b);
  });
}
inline void SortNatural(QStringList& names) {
  SortNaturalBy(names, [](const QString& name) -> const QString& { return name; });
}
inline void SortNatural(std::vector<FileName>& names) {
  SortNaturalBy(names, [](const FileName& name) -> const QString& { return name.text; });
}

class PhotoList {
 public:
  // Adds the pictures of every path in order. A folder adds its pictures
  // (files whose suffix is a readable picture format; not its subfolders),
  // a file is added as it is: whether it decodes is for the viewer to say.
  // Returns an error text for the first path that does not exist or cannot
  // be read; nothing is added for that path. Paths are the file system's
  // bytes: a name that is not valid UTF-8 is kept as it is.
  std::optional<QString> addPaths(const QList<QByteArray>& paths, const QSet<QString>& suffixes) {
    std::optional<QString> firstError;
    for (const QByteArray& path : paths) {
      if (auto error = addPath(path, suffixes); error && !firstError) firstError = error;
    }
    return firstError;
  }
  std::optional<QString> addPaths(const QStringList& paths, const QSet<QString>& suffixes) {
    QList<QByteArray> bytes;
    for (const QString& path : paths) bytes.append(QFile::encodeName(path));
    return addPaths(bytes, suffixes);
  }
  std::optional<QString> addPath(const QString& path, const QSet<QString>& suffixes) {
    return addPath(QFile::encodeName(path), suffixes);
  }

  std::optional<QString> addPath(const QByteArray& path, const QSet<QString>& suffixes) {
    struct stat st {};
    if (::stat(path.constData(), &st) != 0)
      return QStringLiteral("no such file or folder: %1").arg(QFile::decodeName(path));
    if (::access(path.constData(), R_OK) != 0) return QStringLiteral("cannot read: %1").arg(QFile::decodeName(path));
    const QByteArray absolute = Absolute(path);
    if (!S_ISDIR(st.st_mode)) {
      append(absolute);
      return std::nullopt;
    }
    // Listed as bytes: QDir would turn a name that is not UTF-8 into one that
    // names no file.
    std::vector<FileName> names;
    if (DIR* dir = ::opendir(absolute.constData())) {
      while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        const QByteArray full = absolute + '/' + name;
        struct stat entryStat {};
        if (::stat(full.constData(), &entryStat) != 0 || !S_ISREG(entryStat.st_mode)) continue;
        if (::access(full.constData(), R_OK) != 0) continue;
        const QString text = QFile::decodeName(name);
        if (suffixes.contains(QFileInfo(text).suffix().toLower())) names.push_back({name, text});
      }
      ::closedir(dir);
    }
    SortNatural(names);
    for (const FileName& name : names) append(absolute + '/' + name.bytes);
    return std::nullopt;
  }

  // The paths as the file system holds them, and as text.
  const QList<QByteArray>& paths() const { return paths_; }
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
      case 1:
        target = 0;
        break;
      case 2:
        if (current_ > 0) target = current_ - 1;
        break;
      case 3:
        if (current_ < last) target = current_ + 1;
        break;
      case 4:
        target = last;
        break;
      default:
        break;
    }
    if (target) current_ = *target;
    bFirstLast = current_ == 0 || current_ == last;
    return target;
  }

 private:
  static QByteArray Absolute(const QByteArray& path) {
    if (path.startsWith('/')) return path;
    char* cwd = ::getcwd(nullptr, 0);
    QByteArray absolute = cwd != nullptr ? QByteArray(cwd) + '/' + path : path;
    std::free(cwd);
    while (absolute.endsWith('/') && absolute.size() > 1) absolute.chop(1);
    if (absolute.endsWith("/.")) absolute.chop(2);
    return absolute;
  }
  void append(const QByteArray& path) {
    paths_.append(path);
    files_.append(QFile::decodeName(path));
  }

  QList<QByteArray> paths_;
  QStringList files_;
  qsizetype current_ = 0;
};

}  // namespace korvena::host
