#pragma once
// The Prompter of the wizard: every question is asked on the user-interface
// thread in the wizard's own message windows. A worker that asks waits until
// the user has answered (a blocking queued call); the user-interface thread
// itself asks directly.
#include <QObject>
#include <QPointer>
#include <QThread>
#include <QWidget>

#include "common/prompter.h"

namespace dravolin::ui {

class GuiPrompter final : public QObject, public Prompter {
  Q_OBJECT
 public:
  explicit GuiPrompter(QWidget* window);
  void setCaption(const QString& caption) { caption_ = caption; }
  const QString& caption() const { return caption_; }
  QWidget* window() const { return window_; }

  BadSectorAnswer askBadSector() override;
  ReplaceAnswer askReplace(const std::string& path) override;
  bool askYesNo(const std::string& text) override;
  void inform(const std::string& text) override;
  // The information box with the "View Report" box offered; true when ticked.
  bool informWithReport(const std::string& text);

 private:
  template <typename F>
  auto onUiThread(F ask) -> decltype(ask()) {
    if (QThread::currentThread() == thread()) return ask();
    decltype(ask()) answer{};
    QMetaObject::invokeMethod(this, [&] { answer = ask(); }, Qt::BlockingQueuedConnection);
    return answer;
  }

  QPointer<QWidget> window_;
  QString caption_;
};

}  // namespace dravolin::ui
