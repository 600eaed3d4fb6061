#include "ui/gui_prompter.h"

#include "results/saving.h"
#include "ui/message_dialogs.h"

namespace dravolin::ui {

GuiPrompter::GuiPrompter(QWidget* window) : QObject(window), window_(window) {}

BadSectorAnswer GuiPrompter::askBadSector() {
  return onUiThread([this] {
    BadSectors dialog(window_);
    dialog.exec();
    return dialog.answer();
  });
}

ReplaceAnswer GuiPrompter::askReplace(const std::string& path) {
  return onUiThread([this, &path] {
    ReplaceFile dialog(caption_, QString::fromStdString(path), window_);
    dialog.exec();
    return dialog.answer();
  });
}

bool GuiPrompter::askYesNo(const std::string& text) {
  return onUiThread([this, &text] {
    // The saving asks about a destination file it cannot create as a yes/no
    // question (yes aborts); here it gets its own dialog, Abort or Skip.
    const std::string creation = std::string(kFileCreationTitle) + "\r\n";
    if (text.rfind(creation, 0) == 0) {
      std::string detail = text.substr(creation.size());
      if (auto last = detail.rfind("\r\n"); last != std::string::npos) detail.erase(last);
      FileCreation dialog(fromWizardText(detail), window_);
      dialog.exec();
      return dialog.aborted();
    }
    QuestionMessage dialog(caption_, fromWizardText(text), window_);
    return dialog.exec() == QDialog::Accepted;
  });
}

void GuiPrompter::inform(const std::string& text) {
  onUiThread([this, &text] {
    MessagesInfo dialog(caption_, fromWizardText(text), false, window_);
    dialog.exec();
    return true;
  });
}

bool GuiPrompter::informWithReport(const std::string& text) {
  return onUiThread([this, &text] {
    MessagesInfo dialog(caption_, fromWizardText(text), true, window_);
    dialog.exec();
    return dialog.viewReport();
  });
}

}  // namespace dravolin::ui
