#pragma once
// The component's help window: a Qt text browser that shows the topics of a
// compiled HTML help file (read through chmlib, nothing unpacked to disk),
// follows the links between them and takes their style sheets and pictures
// from the same file. One window serves every request of the process: a
// later request shows its topic there and brings the window to the front.
#include <QTextBrowser>
#include <QWidget>
#include <memory>
#include <string>

namespace korvena {

class ChmFile;

// Reads the pages of one help file; URLs inside it are chm:/name.
class HelpBrowser : public QTextBrowser {
 public:
  explicit HelpBrowser(QWidget* parent);
  ~HelpBrowser() override;
  void setFile(std::unique_ptr<ChmFile> file);
  QVariant loadResource(int type, const QUrl& name) override;

 private:
  void follow(const QUrl& link);
  std::unique_ptr<ChmFile> file_;
};

class HelpWindow : public QWidget {
 public:
  HelpWindow();
  // Shows the topic the help file's context map gives the context (its
  // default topic when the map does not have it), or why the file cannot
  // be shown, and brings the window to the front.
  void showContext(const std::string& chmFile, long context);
  HelpBrowser& browser() { return *browser_; }

 private:
  void showTopic(const QString& topic);
  void showProblem(const QString& text);
  void updateTitle();

  HelpBrowser* browser_;
  QString fileTitle_, contents_;
};

// The process's one help window, made on the first request.
class HelpDesk {
 public:
  HelpDesk();
  ~HelpDesk();
  void show(const std::string& chmFile, long context);
  HelpWindow* window() const { return window_.get(); }

 private:
  std::unique_ptr<HelpWindow> window_;
};

}  // namespace korvena
