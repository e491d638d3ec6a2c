#include "app/TMessageDialog.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>

#include "engine/run/TextUtil.h"

std::unique_ptr<QMessageBox> TMessageDialog::Build(QWidget* parent, const QString& text,
                                                   std::optional<MessageKind> kind,
                                                   MessageButtons buttons) {
  auto box = std::make_unique<QMessageBox>(parent);
  box->setWindowTitle(Title(kind));
  box->setText(DisplayText(text));
  box->setTextFormat(Qt::PlainText);
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  if (kind) {
    switch (*kind) {
      case MessageKind::Warning:
        icon = QMessageBox::Warning;
        break;
      case MessageKind::Error:
        icon = QMessageBox::Critical;
        break;
      case MessageKind::Information:
        icon = QMessageBox::Information;
        break;
      case MessageKind::Confirmation:
        icon = QMessageBox::Question;
        break;
    }
  }
  box->setIcon(icon);
  if (buttons == MessageButtons::YesNo) {
    QPushButton* yes = box->addButton(QStringLiteral("&Sim"), QMessageBox::YesRole);
    QPushButton* no = box->addButton(QStringLiteral("&Não"), QMessageBox::NoRole);
    yes->setObjectName(QStringLiteral("btnSim"));
    no->setObjectName(QStringLiteral("btnNao"));
    box->setDefaultButton(yes);
    box->setEscapeButton(no);
  } else {
    QPushButton* ok = box->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    ok->setObjectName(QStringLiteral("btnOK"));
    box->setDefaultButton(ok);
    box->setEscapeButton(ok);
  }
  return box;
}

MessageAnswer TMessageDialog::Show(QWidget* parent, const QString& text,
                                   std::optional<MessageKind> kind, MessageButtons buttons) {
  std::unique_ptr<QMessageBox> box = Build(parent, text, kind, buttons);
  box->exec();
  if (buttons == MessageButtons::Ok) {
    return MessageAnswer::Ok;
  }
  // A box closed by other means than its buttons counts as its Escape answer.
  const QAbstractButton* pressed = box->clickedButton();
  if (pressed != nullptr && pressed->objectName() == QLatin1String("btnSim")) {
    return MessageAnswer::Yes;
  }
  return MessageAnswer::No;
}

QString TMessageDialog::Title(std::optional<MessageKind> kind) {
  return kind ? QString::fromUtf8(MessageKindTitle(*kind))
              : QGuiApplication::applicationDisplayName();
}

QString TMessageDialog::DisplayText(const QString& text) {
  return QString::fromStdString(WithLineBreaks(text.toStdString()));
}
