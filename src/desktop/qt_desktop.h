#pragma once

#include "platform/desktop.h"
#include "platform/prompter.h"

class QWidget;

namespace varnholt {

// The real seams: Qt's message boxes, file dialogs and desktop services. Each
// is owned by a window whose pointer it keeps for parenting.
class QtPrompter : public Prompter {
public:
  explicit QtPrompter(QWidget *parent = nullptr) : parent_(parent) {}
  Answer ask(const QString &title, const QString &text, Buttons buttons, Icon icon) override;
  Answer askWithDetails(const QString &title, const QString &text, const QString &details,
                        Buttons buttons, Icon icon) override;
  void setParent(QWidget *parent) { parent_ = parent; }

private:
  QWidget *parent_;
};

class QtFileDialogs : public FileDialogs {
public:
  explicit QtFileDialogs(QWidget *parent = nullptr) : parent_(parent) {}
  std::optional<QString> open(const FileDialogRequest &request) override;
  std::optional<QString> save(const FileDialogRequest &request) override;

private:
  QWidget *parent_;
};

class QtFolderBrowser : public FolderBrowser {
public:
  explicit QtFolderBrowser(QWidget *parent = nullptr) : parent_(parent) {}
  QString browse(const QString &title, const QString &startFolder) override;

private:
  QWidget *parent_;
};

class QtShell : public Shell {
public:
  bool open(const QString &pathOrUrl) override;
};

// "Shown text|*.a;*.b;" as Qt writes a filter: "Shown text (*.a *.b)".
QString QtFilterFromPipeFilter(const QString &filter);

} // namespace varnholt
