// Message boxes and the file picker's filter.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "GuiTestSupport.h"
#include "app/TMessageDialog.h"

namespace {

TEST(MessageDialogTest, KindSetsTitleAndIconAndButtonsCarryTheirCaptions) {
  const std::tuple<std::optional<MessageKind>, QString, QMessageBox::Icon> kinds[] = {
      {MessageKind::Warning, "Atenção", QMessageBox::Warning},
      {MessageKind::Error, "Erro", QMessageBox::Critical},
      {MessageKind::Information, "Informação", QMessageBox::Information},
      {MessageKind::Confirmation, "Confirme", QMessageBox::Question},
      {std::nullopt, "Tessarine", QMessageBox::NoIcon},
  };
  for (const auto& [kind, title, icon] : kinds) {
    SCOPED_TRACE(title.toStdString());
    auto box = TMessageDialog::Build(nullptr, "a\rb\r\nc", kind, MessageButtons::YesNo);
    EXPECT_EQ(box->windowTitle(), title);
    EXPECT_EQ(box->icon(), icon);
    EXPECT_EQ(box->text(), QStringLiteral("a\nb\nc"));
  }

  auto question =
      TMessageDialog::Build(nullptr, "?", MessageKind::Confirmation, MessageButtons::YesNo);
  QStringList captions;
  for (QAbstractButton* button : question->buttons()) {
    captions << button->text();
  }
  captions.sort();
  EXPECT_EQ(captions, (QStringList{"&Não", "&Sim"}));
  EXPECT_EQ(question->defaultButton()->text(), QStringLiteral("&Sim"));
  EXPECT_EQ(question->escapeButton()->text(), QStringLiteral("&Não"));

  auto notice = TMessageDialog::Build(nullptr, "!", MessageKind::Information, MessageButtons::Ok);
  ASSERT_EQ(notice->buttons().size(), 1);
  EXPECT_EQ(notice->buttons()[0]->text(), QStringLiteral("OK"));
  EXPECT_EQ(notice->defaultButton()->text(), QStringLiteral("OK"));
  EXPECT_EQ(notice->escapeButton()->text(), QStringLiteral("OK"));
}

// Presses `key` in the modal box once it is shown.
void PressInNextBox(Qt::Key key) {
  QTimer::singleShot(0, [key] {
    WaitUntil([] { return QApplication::activeModalWidget() != nullptr; });
    QWidget* box = QApplication::activeModalWidget();
    ASSERT_NE(box, nullptr);
    QTest::keyClick(box, key);
  });
}

TEST(MessageDialogTest, ShownBoxesAnswerByKeyboard) {
  PressInNextBox(Qt::Key_Escape);
  EXPECT_EQ(
      TMessageDialog::Show(nullptr, "Continua?", MessageKind::Information, MessageButtons::YesNo),
      MessageAnswer::No);
  PressInNextBox(Qt::Key_Return);
  EXPECT_EQ(
      TMessageDialog::Show(nullptr, "Continua?", MessageKind::Information, MessageButtons::YesNo),
      MessageAnswer::Yes);
  PressInNextBox(Qt::Key_Escape);
  EXPECT_EQ(TMessageDialog::Show(nullptr, "Fim", MessageKind::Information, MessageButtons::Ok),
            MessageAnswer::Ok);
}

TEST(MessageDialogTest, PickerFilterMatchesNamesInAnyCase) {
  QTemporaryDir folder;
  for (const char* name : {"a.fdb", "B.FDB", "c.Fdb", "d.fbk", "e.txt"}) {
    QFile(folder.filePath(QLatin1String(name))).open(QIODevice::WriteOnly);
  }
  QFileDialog dialog;
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setNameFilter(QStringLiteral("Firebird Database (*.fdb)"));
  dialog.setDirectory(folder.path());
  dialog.show();
  QListView* list = dialog.findChild<QListView*>(QStringLiteral("listView"));
  ASSERT_NE(list, nullptr);
  auto shown = [&] {
    QStringList names;
    const QModelIndex root = list->rootIndex();
    for (int row = 0; row < list->model()->rowCount(root); ++row) {
      names << list->model()->index(row, 0, root).data().toString();
    }
    names.sort();
    return names;
  };
  EXPECT_TRUE(WaitUntil([&] { return shown().size() >= 3; }, std::chrono::seconds(5)));
  EXPECT_EQ(shown(), (QStringList{"B.FDB", "a.fdb", "c.Fdb"}));
}

}  // namespace
