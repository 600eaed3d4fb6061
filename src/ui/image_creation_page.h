#pragma once
// Step 2 (b) of Image Recovery (ImageCreation): where the copy goes, one
// image file, a series of 650 MB pieces ("Multifile") or another disk;
// Next checks the target and runs the imaging as Step 3, which ends back on
// this page. The page carries the imaging menu.
#include <memory>
#include <vector>

#include "app/image_creation.h"
#include "ui/wizard_window.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace dravolin::ui {

class ImageCreation : public WizardPage {
  Q_OBJECT
 public:
  explicit ImageCreation(MainWindow& window);
  void entered() override;
  bool hasImagingMenu() const override { return true; }
  void next();
  void back();

  QComboBox* type() const { return type_; }
  QLineEdit* destination() const { return destination_; }
  QCheckBox* multiFile() const { return multiFile_; }
  QComboBox* targetDisk() const { return target_; }
  // The mapfile of a rescue imaging ("Resume file"); empty: a plain copy.
  QLineEdit* resumeFile() const { return resumeFile_; }
  QString destinationLabel() const;
  // The texts of the four fields of the chosen target disk.
  QStringList diskFields() const;
  // The result of the last imaging run from this page.
  const ImagingResult* lastResult() const { return result_.get(); }

 private:
  void typeChanged();
  void targetChanged();
  void browse();

  ImageCreationPage core_;
  std::vector<TargetDisk> targets_;
  std::shared_ptr<ImagingResult> result_;
  QComboBox* type_;
  QLabel* destinationLabel_;
  QLineEdit* destination_;
  QPushButton* browse_;
  QCheckBox* multiFile_;
  QLabel* resumeLabel_;
  QLineEdit* resumeFile_;
  QComboBox* target_;
  std::vector<QWidget*> diskWidgets_;
  std::vector<QLabel*> fields_;
};

}  // namespace dravolin::ui
