#include "helpview/help_window.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QRegularExpression>
#include <QStyle>
#include <QTextDocument>
#include <QToolButton>
#include <QVBoxLayout>
#include <cstdint>
#include <cstdio>

#include "helpview/chm_file.h"
#include "support/window_icon.h"

namespace korvena {

namespace {

constexpr const char* kScheme = "chm";
constexpr int kWidth = 760, kHeight = 600;

QUrl TopicUrl(const QString& topic) { return QUrl(QStringLiteral("chm:/") + topic); }

// Links written for other help viewers name the help file as well
// ("ms-its:Help.chm::/topic.htm", "mk:@MSITStore:Help.chm::/topic.htm"):
// they are read from the file shown.
QUrl InFileUrl(const QUrl& link) {
  const QString scheme = link.scheme().toLower();
  if (scheme != QLatin1String("ms-its") && scheme != QLatin1String("its") && scheme != QLatin1String("mk")) return link;
  const QString text = link.toString();
  const qsizetype separator = text.indexOf(QLatin1String("::"));
  if (separator < 0) return link;
  QString path = text.mid(separator + 2);
  if (!path.startsWith('/')) path.prepend('/');
  return QUrl(QLatin1String(kScheme) + QLatin1Char(':') + path);
}

// Qt's rich text takes a linked style sheet only when the link names its
// type, which help pages often leave out. Bytes pass through Latin-1 as
// they are, whatever the page's encoding.
QByteArray TypeStyleSheetLinks(const QByteArray& page) {
  static const QRegularExpression untyped(
      QStringLiteral(R"(<link\b(?![^>]*\btype\s*=)(?=[^>]*\brel\s*=\s*["']?stylesheet))"),
      QRegularExpression::CaseInsensitiveOption);
  QString text = QString::fromLatin1(page);
  text.replace(untyped, QStringLiteral(R"(<link type="text/css")"));
  return text.toLatin1();
}

}  // namespace

HelpBrowser::HelpBrowser(QWidget* parent) : QTextBrowser(parent) {
  // Links are followed here: those inside the help file in this window,
  // web and mail links by the desktop, others not at all.
  setOpenLinks(false);
  connect(this, &QTextBrowser::anchorClicked, this, [this](const QUrl& link) { follow(link); });
}

HelpBrowser::~HelpBrowser() = default;

void HelpBrowser::setFile(std::unique_ptr<ChmFile> file) { file_ = std::move(file); }

void HelpBrowser::follow(const QUrl& given) {
  const QUrl link = InFileUrl(given);
  const QString scheme = link.scheme();
  if (scheme == QLatin1String(kScheme))
    setSource(link);
  else if (scheme == QLatin1String("http") || scheme == QLatin1String("https") || scheme == QLatin1String("mailto"))
    QDesktopServices::openUrl(link);
}

QVariant HelpBrowser::loadResource(int type, const QUrl& name) {
  const QUrl url = name.isRelative() ? source().resolved(name) : InFileUrl(name);
  // A page takes nothing from outside its help file.
  if (url.scheme() != QLatin1String(kScheme) || !file_) return {};
  const auto data = file_->read(url.path().toStdString());
  if (!data) return {};
  const QByteArray bytes(data->data(), static_cast<qsizetype>(data->size()));
  return type == QTextDocument::HtmlResource ? TypeStyleSheetLinks(bytes) : bytes;
}

HelpWindow::HelpWindow() : browser_(new HelpBrowser(this)) {
  setObjectName(QStringLiteral("HelpWindow"));
  setWindowIcon(ComponentIcon());
  auto* buttons = new QHBoxLayout;
  auto addButton = [&](QStyle::StandardPixmap icon, const QString& tip, auto action) {
    auto* button = new QToolButton(this);
    button->setIcon(style()->standardIcon(icon));
    button->setToolTip(tip);
    button->setAutoRaise(true);
    connect(button, &QToolButton::clicked, browser_, action);
    buttons->addWidget(button);
    return button;
  };
  auto* back = addButton(QStyle::SP_ArrowBack, tr("Back"), [this] { browser_->backward(); });
  auto* forward = addButton(QStyle::SP_ArrowForward, tr("Forward"), [this] { browser_->forward(); });
  addButton(QStyle::SP_DirHomeIcon, tr("Contents"), [this] {
    if (!contents_.isEmpty()) showTopic(contents_);
  });
  buttons->addStretch();
  back->setEnabled(false);
  forward->setEnabled(false);
  connect(browser_, &QTextBrowser::backwardAvailable, back, &QWidget::setEnabled);
  connect(browser_, &QTextBrowser::forwardAvailable, forward, &QWidget::setEnabled);
  connect(browser_, &QTextBrowser::sourceChanged, this, [this] { updateTitle(); });
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->setSpacing(2);
  layout->addLayout(buttons);
  layout->addWidget(browser_);
  resize(kWidth, kHeight);
}

void HelpWindow::showContext(const std::string& chmFile, long context) {
  std::string error;
  auto file = ChmFile::Open(chmFile, error);
  if (!file) {
    showProblem(QString::fromStdString(error));
  } else {
    std::optional<std::string> topic;
    if (context >= 0 && static_cast<unsigned long>(context) <= UINT32_MAX)
      topic = file->topicForContext(static_cast<uint32_t>(context));
    if (!topic) {
      std::fprintf(stderr, "help: context %ld is not in the map of %s; showing its first topic\n", context,
                   chmFile.c_str());
      topic = file->defaultTopic();
    }
    fileTitle_ = QString::fromStdString(file->title());
    contents_ = QString::fromStdString(file->defaultTopic().value_or(""));
    browser_->setFile(std::move(file));
    if (topic)
      showTopic(QString::fromStdString(*topic));
    else
      showProblem(QStringLiteral("The help file %1 names no topic to show.").arg(QString::fromStdString(chmFile)));
  }
  if (isMinimized()) showNormal();
  show();
  raise();
  activateWindow();
}

void HelpWindow::showTopic(const QString& topic) {
  // The same topic again is read again: the page may show a problem since,
  // or the help file may have been rebuilt.
  const QUrl url = TopicUrl(topic);
  if (browser_->source() == url)
    browser_->reload();
  else
    browser_->setSource(url);
  updateTitle();
}

void HelpWindow::showProblem(const QString& text) {
  std::fprintf(stderr, "help: %s\n", text.toLocal8Bit().constData());
  browser_->setFile(nullptr);
  browser_->setPlainText(text);
  fileTitle_.clear();
  contents_.clear();
  setWindowTitle(tr("Help"));
}

void HelpWindow::updateTitle() {
  const QString page = browser_->documentTitle();
  if (fileTitle_.isEmpty())
    setWindowTitle(page.isEmpty() ? tr("Help") : page);
  else
    setWindowTitle(page.isEmpty() ? fileTitle_ : page + QStringLiteral(" - ") + fileTitle_);
}

HelpDesk::HelpDesk() = default;
HelpDesk::~HelpDesk() = default;

void HelpDesk::show(const std::string& chmFile, long context) {
  if (!window_) window_ = std::make_unique<HelpWindow>();
  window_->showContext(chmFile, context);
}

}  // namespace korvena
