// The list of pictures of a folder before they are stored as photos (导入照片): each picture's
// thumbnail, the student it is matched to (the operator may type another registration number
// or name), the crop, and what will happen with the photo standard's advice. Shown again after
// storing with each picture's result and the summary.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <vector>

#include "capture/face/photo_import.h"

namespace Ui {
class TFormImportPhotos;
}

namespace mirestal {

class TFormImportPhotos : public QDialog {
  Q_OBJECT

 public:
  // `redecide` decides the given pictures again (without storing) after the operator changed a
  // match. The pictures stay the caller's.
  TFormImportPhotos(const QString& folder, std::vector<ImportPicture>& pictures,
                    const std::vector<RosterStudent>& students, const StudentMatcher& matcher,
                    std::function<void(const std::vector<int>&)> redecide,
                    QWidget* parent = nullptr);
  ~TFormImportPhotos() override;

  // The pictures ticked that will be stored, in list order.
  std::vector<int> Accepted() const;
  // After storing: every row's result, the summary, only a close button.
  void ShowResults();

  Ui::TFormImportPhotos* ui() const { return ui_.get(); }

 private:
  void Fill();
  void FillRow(int row);
  void StudentEdited(int row);
  void UpdateSummary();

  std::unique_ptr<Ui::TFormImportPhotos> ui_;
  std::vector<ImportPicture>& pictures_;
  const std::vector<RosterStudent>& students_;
  const StudentMatcher& matcher_;
  std::function<void(const std::vector<int>&)> redecide_;
  bool done_ = false;
  bool filling_ = false;
};

}  // namespace mirestal
