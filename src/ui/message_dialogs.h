#pragma once
// The wizard's own message windows: the information box (MessagesInfo), the
// yes/no question (QuestionMessage), the bad-sector dialog (BadSectors), the
// replace question and the file-creation error (FileCreation). Each takes
// the main caption as its title.
#include <QDialog>
#include <QString>

#include "common/prompter.h"

class QCheckBox;
class QLabel;

namespace dravolin::ui {

// Texts are built with "\r\n" line breaks; the boxes show them as lines.
QString fromWizardText(const std::string& text);

class MessagesInfo : public QDialog {
  Q_OBJECT
 public:
  MessagesInfo(const QString& caption, const QString& text, bool offerViewReport = false, QWidget* parent = nullptr);
  bool viewReport() const;
  QString text() const;

 private:
  QLabel* text_;
  QCheckBox* viewReport_;
};

class QuestionMessage : public QDialog {
  Q_OBJECT
 public:
  QuestionMessage(const QString& caption, const QString& text, QWidget* parent = nullptr);
  QString text() const;

 private:
  QLabel* text_;
};

class BadSectors : public QDialog {
  Q_OBJECT
 public:
  explicit BadSectors(QWidget* parent = nullptr);
  BadSectorAnswer answer() const { return answer_; }

 private:
  BadSectorAnswer answer_ = BadSectorAnswer::Skip;  // also what closing the dialog sets
};

class ReplaceFile : public QDialog {
  Q_OBJECT
 public:
  ReplaceFile(const QString& caption, const QString& path, QWidget* parent = nullptr);
  ReplaceAnswer answer() const { return answer_; }

 private:
  ReplaceAnswer answer_ = ReplaceAnswer::No;
};

// "Error Writing Destination": Abort ends the saving, Skip skips the file.
class FileCreation : public QDialog {
  Q_OBJECT
 public:
  FileCreation(const QString& text, QWidget* parent = nullptr);
  bool aborted() const { return aborted_; }

 private:
  bool aborted_ = false;
};

}  // namespace dravolin::ui
