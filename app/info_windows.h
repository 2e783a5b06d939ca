// Fixed information windows: the photo report guide (TFormDataUp) and the about box (AboutDlg1).
// Neither changes any data. Each is built when it is shown and discarded when it closes.
#pragma once

#include <QDialog>
#include <string>

class QLabel;

namespace mirestal {

// The program's file version, compiled in.
inline constexpr char kFileVersion[] = "2011.10.28.0";

struct SystemInfo {
  long long memory_kb = 0;  // physical memory
  int processors = 0;
  std::string processor_type;  // UTF-8
};

// Reads the machine's physical memory and its processors (count and type).
SystemInfo ReadSystemInfo();
// "%d KB\r%dx %s or compatible": the right-hand block of the about box (line break "\r").
std::string SystemInfoText(const SystemInfo& info);

class TFormDataUp : public QDialog {
  Q_OBJECT

 public:
  // `program_dir` (UTF-8, ending in a separator) is shown as the photo folder's example.
  explicit TFormDataUp(const std::string& program_dir, QWidget* parent = nullptr);

  QLabel* UiLabel7() const { return ui_label7_; }

 private:
  void FormCreate(const std::string& program_dir);
  QLabel* ui_label7_ = nullptr;
};

class AboutDlg1 : public QDialog {
  Q_OBJECT

 public:
  explicit AboutDlg1(const SystemInfo& info, QWidget* parent = nullptr);
};

}  // namespace mirestal
