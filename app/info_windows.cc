#include "app/info_windows.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <QGridLayout>
#include <fstream>
#include <thread>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "app/dialogs.h"
#include "app/gbk_qt.h"
#include "platform/paths.h"

namespace mirestal {

namespace {

#ifndef _WIN32  // Windows: system_info_win32.cc
// Reads "key : value" from /proc/cpuinfo (first match); empty when absent.
std::string CpuInfoValue(const char* key) {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  const std::string wanted(key);
  while (std::getline(in, line)) {
    if (line.compare(0, wanted.size(), wanted) != 0) continue;
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const size_t start = line.find_first_not_of(" \t", colon + 1);
    return start == std::string::npos ? std::string() : line.substr(start);
  }
  return {};
}
#endif

QLabel* Label(QWidget* parent, int left, int top, const char* text, const char* color, int px,
              bool bold = false) {
  auto* label = new QLabel(QString::fromUtf8(text), parent);
  QFont f = label->font();
  f.setPixelSize(px);
  f.setBold(bold);
  label->setFont(f);
  label->setStyleSheet(QStringLiteral("color: %1; background: transparent;").arg(QLatin1String(color)));
  label->move(left, top);
  label->adjustSize();
  return label;
}

}  // namespace

#ifndef _WIN32  // Windows: system_info_win32.cc
SystemInfo ReadSystemInfo() {
  SystemInfo info;
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages > 0 && page_size > 0) info.memory_kb = static_cast<long long>(pages) * page_size / 1024;
  info.processors = static_cast<int>(std::thread::hardware_concurrency());
  info.processor_type = CpuInfoValue("model name");
  if (info.processor_type.empty()) info.processor_type = CpuInfoValue("Processor");
  if (info.processor_type.empty()) info.processor_type = "Unknown processor";
  return info;
}
#endif

std::string SystemInfoText(const SystemInfo& info) {
  return std::to_string(info.memory_kb) + " KB\r" + std::to_string(info.processors) + "x " +
         info.processor_type + " or compatible";
}

// --- The photo report guide ---

TFormDataUp::TFormDataUp(const std::string& program_dir, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
  setWindowTitle(QStringLiteral("上报"));
  setFixedSize(911, 503);
  QFont font(QStringLiteral("SimSun"));
  font.setPixelSize(14);
  setFont(font);

  auto* badge = new QLabel(this);
  badge->setGeometry(16, 4, 105, 28);
  badge->setStyleSheet(QStringLiteral("background: rgb(0,255,128); border: 1px solid black; border-radius: 6px;"));
  auto* label1 = Label(this, 40, 12, "上报说明", "black", 14);
  label1->raise();

  const char* blue = "blue";
  Label(this, 16, 48, "考生照片文件和文件夹的相关规则如下：", "red", 16, true);
  Label(this, 28, 88, "一、照片采用压缩图片格式（jpg），图像宽、高比例为3：4", blue, 15);
  Label(this, 61, 112, "（要取得最佳质量，可以采用数码相机拍照，但务必将其裁剪成3：4的比例，每张照片文件不能大于50KB）", blue, 12);
  Label(this, 27, 146, "二、文件的命名规则：考籍号.jpg", blue, 15);
  Label(this, 53, 173, "（例如，若考生的考籍号是12345678901234567，则其对应的照片文件名是：12345678901234567.jpg）", blue, 12);
  Label(this, 28, 214, "三、照片文件的存放路径：", blue, 15);
  Label(this, 60, 238, "拍照后，照片会保存在：本软件文件夹\\照片\\", blue, 15);
  ui_label7_ = Label(this, 60, 262, "", blue, 12);
  ui_label7_->setObjectName(QStringLiteral("UiLabel7"));
  Label(this, 15, 304, "照片上报要求：", "red", 16, true);
  Label(this, 17, 336, "注意：本软件为离线拍照，即照片文件仅仅保存在本地硬盘，不会自动上传到网络服务器，需手动上传。", blue, 16, true);
  Label(this, 20, 366, "学业水平考试管理系统要求：", blue, 15);
  Label(this, 20, 390, "1、进入照片文件夹，选择全部或所需的部分照片文件压缩成zip包（压缩包里的图片必须是第一级目录，而不是选择照片文件夹压缩）", blue, 15);
  Label(this, 21, 422, "2、登录网络管理系统，上传zip文件", blue, 15);

  auto* panel = new QFrame(this);
  panel->setObjectName(QStringLiteral("UiPanelFunction"));
  panel->setGeometry(0, 503 - 48, 911, 48);
  panel->setStyleSheet(QStringLiteral("#UiPanelFunction { border: 1px solid gray; border-radius: 6px; }"));
  auto* ok = new QPushButton(QStringLiteral("我知道了"), panel);
  ok->setObjectName(QStringLiteral("BitBtnSave"));
  ok->setGeometry(413, 13, 84, 25);
  ok->setDefault(true);
  ok->setAutoDefault(true);
  // Enter presses the default button; Esc rejects the dialog: both close it.
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  FormCreate(program_dir);
}

void TFormDataUp::FormCreate(const std::string& program_dir) {
  ui_label7_->setText(Utf8ToQString("（例如: " + DisplayPath(program_dir + "照片/") + " ）"));
  ui_label7_->adjustSize();
}

// --- The about box ---

AboutDlg1::AboutDlg1(const SystemInfo& info, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
  setWindowTitle(QStringLiteral("关于本软件"));
  setModal(true);
  auto* top = new QHBoxLayout;
  auto* icon = new QLabel;
  icon->setPixmap(style()->standardIcon(QStyle::SP_ComputerIcon).pixmap(48, 48));
  icon->setAlignment(Qt::AlignTop);
  top->addWidget(icon);
  auto* texts = new QVBoxLayout;
  auto* name = new QLabel(QString::fromUtf8(kApplicationTitle));
  name->setObjectName(QStringLiteral("ProductName"));
  QFont big = name->font();
  big.setPointSize(30);
  big.setBold(true);
  name->setFont(big);
  name->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  texts->addWidget(name);
  auto* version = new QLabel(QStringLiteral("Version ") + QLatin1String(kFileVersion));
  version->setObjectName(QStringLiteral("Version"));
  texts->addWidget(version);
  auto* description = new QLabel(QStringLiteral(
      "欢迎使用本软件！\n\n最新的政策规定和程序下载，请访问市教育考试院网站 www.exam.example.cn\n"));
  description->setObjectName(QStringLiteral("Comments"));
  texts->addWidget(description);
  auto* organisation = new QLabel(QStringLiteral("市教育考试院\n\n软件编制：信息中心\n"));
  organisation->setObjectName(QStringLiteral("Copyright"));
  texts->addWidget(organisation);
  top->addLayout(texts, 1);

  auto* line = new QFrame;
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);

  auto* system = new QGridLayout;
  system->addWidget(new QLabel(QStringLiteral("Available Memory:\nPlatform, CPU:")), 0, 0);
  auto* values = new QLabel(Utf8ToQString(SystemInfoText(info)).replace(QLatin1Char('\r'), QLatin1Char('\n')));
  values->setObjectName(QStringLiteral("SystemInfo"));
  system->addWidget(values, 0, 1);
  system->setColumnStretch(1, 1);

  auto* ok = new QPushButton(QStringLiteral("OK"));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok);
  buttons->addStretch(1);

  auto* all = new QVBoxLayout(this);
  // Room on the right: the longest line (the web site) would otherwise touch the edge.
  all->setContentsMargins(12, 12, 24, 12);
  all->addLayout(top);
  all->addWidget(line);
  all->addLayout(system);
  all->addLayout(buttons);
  layout()->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace mirestal
