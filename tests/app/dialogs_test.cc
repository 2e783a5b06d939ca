// The real dialogs (QtDialogs), driven offscreen: a timer finds the modal dialog that is up and
// answers it as an operator would.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <vector>

#include "app/dialogs.h"
#include "tests/testutil/testutil.h"

namespace mirestal {
namespace {

using testing::TempDir;
using testing::WriteFile;

// Answers the modal dialogs that come up, one step per dialog, in order. A dialog no step is
// left for is recorded and answered (a message box by its first button, any other rejected), and
// so is one still up 5 s after its answer, so a test sees it instead of hanging.
class Operator : public QObject {
 public:
  using Step = std::function<void(QWidget*)>;
  explicit Operator(std::vector<Step> steps) : steps_(std::move(steps)) {
    connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
    timer_.start(10);
  }
  // Title of every modal dialog met, in order.
  QStringList met;
  // Titles of the dialogs that no step answered.
  QStringList unexpected;

 private:
  void Poll() {
    QWidget* w = QApplication::activeModalWidget();
    if (!w) return;
    // A dialog answered before (active again once a dialog it opened has gone) is not new.
    if (std::find(answered_.begin(), answered_.end(), w) != answered_.end()) {
      if (w != waiting_) {
        waiting_ = w;
        polls_waiting_ = 0;
      }
      if (++polls_waiting_ == 500) {  // still up 5 s after its answer
        unexpected << QStringLiteral("still up: ") + w->windowTitle();
        if (auto* dialog = qobject_cast<QDialog*>(w)) dialog->reject();
      }
      return;
    }
    answered_.push_back(w);
    met << w->windowTitle();
    Step step;
    if (next_ < steps_.size()) {
      step = steps_[next_++];
    } else {
      unexpected << w->windowTitle();
      step = [](QWidget* d) {
        if (auto* box = qobject_cast<QMessageBox*>(d); box && !box->buttons().isEmpty()) {
          box->buttons().first()->click();
        } else if (auto* dialog = qobject_cast<QDialog*>(d)) {
          dialog->reject();
        }
      };
    }
    // Queued: an answer that opens a nested dialog must not run inside this timer's call, or
    // the timer would not fire again until the nested dialog ends.
    QTimer::singleShot(0, w, [w, step] { step(w); });
  }

  std::vector<Step> steps_;
  size_t next_ = 0;
  std::vector<QPointer<QWidget>> answered_;
  QPointer<QWidget> waiting_;
  int polls_waiting_ = 0;
  QTimer timer_;
};

// --- Message boxes ---

struct BoxCase {
  int flags;
  QString caption;
  int key;                                // Qt::Key_Return, Qt::Key_Escape, or 0 to click `click`
  QMessageBox::StandardButton click;      // with key 0
  QMessageBox::Icon icon;
  QList<QMessageBox::StandardButton> buttons;
  QMessageBox::StandardButton default_button;
  int answer;
};

TEST(QtDialogsTest, MessageBoxFlagsGiveButtonsIconDefaultAndAnswer) {
  const auto Ok = QMessageBox::Ok, Yes = QMessageBox::Yes, No = QMessageBox::No;
  const BoxCase cases[] = {
      {kMbOk, QStringLiteral("提示"), Qt::Key_Return, Ok, QMessageBox::NoIcon, {Ok}, Ok, kIdOk},
      {kMbStop, QStringLiteral("Mirestal"), Qt::Key_Escape, Ok, QMessageBox::Critical, {Ok}, Ok,
       kIdOk},
      {kMbYesNo, QStringLiteral("确认"), Qt::Key_Return, Ok, QMessageBox::Warning, {Yes, No}, Yes,
       kIdYes},
      {kMbYesNo, QStringLiteral("确认"), Qt::Key_Escape, Ok, QMessageBox::Warning, {Yes, No}, Yes,
       kIdNo},
      {kMbYesNoDefaultNo, QStringLiteral("再次确认"), Qt::Key_Return, Ok, QMessageBox::Warning,
       {Yes, No}, No, kIdNo},
      {kMbYesNoDefaultNo, QStringLiteral("再次确认"), 0, Yes, QMessageBox::Warning, {Yes, No}, No,
       kIdYes},
      {kMbYesNo, QStringLiteral("确认"), 0, No, QMessageBox::Warning, {Yes, No}, Yes, kIdNo},
  };
  for (const BoxCase& c : cases) {
    SCOPED_TRACE(c.flags);
    QtDialogs dialogs;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QList<QMessageBox::StandardButton> buttons;
    QMessageBox::StandardButton default_button = QMessageBox::NoButton;
    Operator op({[&](QWidget* w) {
      auto* box = qobject_cast<QMessageBox*>(w);
      ASSERT_NE(box, nullptr);
      text = box->text();
      icon = box->icon();
      for (QAbstractButton* b : box->buttons()) buttons << box->standardButton(b);
      if (box->defaultButton()) default_button = box->standardButton(box->defaultButton());
      if (c.key) {
        QTest::keyClick(box, static_cast<Qt::Key>(c.key));
      } else {
        box->button(c.click)->click();
      }
    }});
    EXPECT_EQ(dialogs.MessageBox(QStringLiteral("第一行\r第二行"), c.caption, c.flags), c.answer);
    EXPECT_EQ(op.met, QStringList{c.caption});
    EXPECT_EQ(text, QStringLiteral("第一行\n第二行"));
    EXPECT_EQ(icon, c.icon);
    EXPECT_EQ(buttons, c.buttons);
    if (c.buttons.size() > 1) {
      EXPECT_EQ(default_button, c.default_button);
    }
  }
}

TEST(QtDialogsTest, ShowMessageHasTheTitleNoIconAndOneOk) {
  QtDialogs dialogs;
  QMessageBox::Icon icon = QMessageBox::Critical;
  int buttons = 0;
  Operator op({[&](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    ASSERT_NE(box, nullptr);
    icon = box->icon();
    buttons = static_cast<int>(box->buttons().size());
    QTest::keyClick(box, Qt::Key_Return);
  }});
  dialogs.ShowMessage(QStringLiteral("完成"));
  EXPECT_EQ(op.met, QStringList{QString::fromUtf8(kApplicationTitle)});
  EXPECT_EQ(icon, QMessageBox::NoIcon);
  EXPECT_EQ(buttons, 1);
}

// A message shown while a window of the parent that stays on top is up belongs to that window
// (so the window manager keeps it above); one shown from inside a modal dialog to that dialog.
TEST(QtDialogsTest, MessagesBelongToTheVisibleStayOnTopWindowOrTheModalDialog) {
  QWidget main_window;
  main_window.show();
  auto* on_top = new QDialog(&main_window, Qt::Dialog | Qt::WindowStaysOnTopHint);
  auto* plain = new QDialog(&main_window);
  plain->show();
  QtDialogs dialogs(&main_window);
  QWidget* owner = nullptr;
  const Operator::Step note_owner = [&](QWidget* w) {
    owner = w->parentWidget();
    static_cast<QDialog*>(w)->accept();
  };
  {
    Operator op({note_owner});
    dialogs.ShowMessage(QStringLiteral("没找到"));
    EXPECT_EQ(owner, &main_window);  // the stay-on-top window is hidden
  }
  on_top->show();
  {
    Operator op({note_owner});
    dialogs.MessageBox(QStringLiteral("确认保存该照片吗？"), QStringLiteral("确认"), kMbYesNo);
    EXPECT_EQ(owner, on_top);
  }
  {
    QDialog modal(&main_window);
    modal.setWindowTitle(QStringLiteral("modal"));
    Operator op({[&](QWidget*) { dialogs.ShowMessage(QStringLiteral("嵌套")); modal.accept(); },
                 note_owner});
    modal.exec();
    EXPECT_EQ(owner, &modal);
    EXPECT_TRUE(op.unexpected.isEmpty());
  }
}

// --- File dialogs ---

struct FileAnswer {
  QString typed;  // typed into the dialog, then accepted; empty: cancel
  // What the dialog showed.
  QString title, directory;
  QStringList filters;
};

Operator::Step AnswerFileDialog(FileAnswer& a) {
  return [&a](QWidget* w) {
    auto* dialog = qobject_cast<QFileDialog*>(w);
    ASSERT_NE(dialog, nullptr);
    a.title = dialog->windowTitle();
    a.directory = dialog->directory().absolutePath();
    a.filters = dialog->nameFilters();
    if (a.typed.isEmpty()) {
      dialog->reject();
      return;
    }
    // Typed into the name field, as the operator does.
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(name, nullptr);
    name->setText(a.typed);
    static_cast<QDialog*>(dialog)->accept();  // the file dialog's own accept, as its button
  };
}

TEST(QtDialogsTest, SaveFileAsksNoOverwriteQuestionOfItsOwn) {
  TempDir dir;
  const QString existing = QString::fromStdString(dir.File("名单.xls"));
  WriteFile(existing.toStdString(), "old");
  QtDialogs dialogs;
  const FileDialogSpec spec{QStringLiteral("Excel文件|*.xls"), QStringLiteral("xls"), QString(),
                            QStringLiteral("导出"), existing};
  FileAnswer answer{existing};
  Operator op({AnswerFileDialog(answer)});
  EXPECT_EQ(dialogs.SaveFile(spec), existing);
  EXPECT_EQ(op.unexpected, QStringList());  // the command asks about the existing file
  EXPECT_EQ(answer.title, QStringLiteral("导出"));
  EXPECT_EQ(answer.directory, QString::fromStdString(dir.path()));
  EXPECT_EQ(answer.filters, QStringList{QStringLiteral("Excel文件 (*.xls)")});
}

TEST(QtDialogsTest, FileDialogsAddTheDefaultExtensionAndCancelGivesNothing) {
  TempDir dir;
  const QString folder = QString::fromStdString(dir.path());
  WriteFile(dir.File("a.dbf"), "x");
  struct Case {
    bool save;
    QString typed;
    std::optional<QString> chosen;
  };
  const Case cases[] = {
      {false, folder + "/a.dbf", folder + "/a.dbf"},
      {false, folder + "/新名单", folder + "/新名单.dbf"},  // a name that is not there yet
      {false, QString(), std::nullopt},
      {true, folder + "/book", folder + "/book.dbf"},
      {true, QString(), std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed.toStdString());
    QtDialogs dialogs;
    const FileDialogSpec spec{QStringLiteral("dbf文件（*.dbf）|*.dbf|所有文件(*.*)|*.*"),
                              QStringLiteral("dbf"), folder, QStringLiteral("打开")};
    FileAnswer answer{c.typed};
    Operator op({AnswerFileDialog(answer)});
    EXPECT_EQ(c.save ? dialogs.SaveFile(spec) : dialogs.OpenFile(spec), c.chosen);
    EXPECT_EQ(op.unexpected, QStringList());
    EXPECT_EQ(answer.directory, folder);
    EXPECT_EQ(answer.filters, (QStringList{QStringLiteral("dbf文件（*.dbf） (*.dbf)"),
                                           QStringLiteral("所有文件(*.*) (*.*)")}));
  }
}

TEST(QtDialogsTest, ChooseAnswersTheIndexOrNothing) {
  for (const bool accept : {true, false}) {
    QtDialogs dialogs;
    Operator op({[accept](QWidget* w) {
      auto* dialog = qobject_cast<QInputDialog*>(w);
      ASSERT_NE(dialog, nullptr);
      dialog->setTextValue(QStringLiteral("640x480"));
      accept ? dialog->accept() : dialog->reject();
    }});
    const std::optional<int> chosen = dialogs.Choose(
        {QStringLiteral("格式"), QStringLiteral("分辨率"),
         {QStringLiteral("320x240"), QStringLiteral("640x480")}, 0});
    EXPECT_EQ(chosen, accept ? std::optional<int>(1) : std::nullopt);
  }
}

}  // namespace
}  // namespace mirestal

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
