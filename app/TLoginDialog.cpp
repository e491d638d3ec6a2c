#include "app/TLoginDialog.h"

#include <QByteArray>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstring>

#include "app/TMessageDialog.h"

namespace {

// Zeroes a byte array the caller owns alone (a shared one would copy first).
void WipeBytes(QByteArray& bytes) {
  volatile char* data = bytes.data();
  for (qsizetype i = 0; i < bytes.size(); ++i) {
    data[i] = 0;
  }
  bytes.clear();
}

}  // namespace

TLoginDialog::TLoginDialog(const QString& user, const QString& reason, QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("TLoginDialog"));
  setWindowTitle(QStringLiteral("Login recusado pelo servidor"));
  setModal(true);

  reason_ = new QLabel(TMessageDialog::DisplayText(reason), this);
  reason_->setObjectName(QStringLiteral("lbMotivo"));
  reason_->setTextFormat(Qt::PlainText);
  reason_->setWordWrap(true);

  user_ = new QLineEdit(user, this);
  user_->setObjectName(QStringLiteral("eUsuario"));
  password_ = new QLineEdit(this);
  password_->setObjectName(QStringLiteral("eSenha"));
  password_->setEchoMode(QLineEdit::Password);

  auto* fields = new QFormLayout;
  fields->addRow(QStringLiteral("Usuário"), user_);
  fields->addRow(QStringLiteral("Senha"), password_);

  auto* buttons = new QDialogButtonBox(this);
  ok_ = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  ok_->setObjectName(QStringLiteral("btnOK"));
  ok_->setDefault(true);
  cancel_ = buttons->addButton(QStringLiteral("Cancelar"), QDialogButtonBox::RejectRole);
  cancel_->setObjectName(QStringLiteral("btnCancelar"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(reason_);
  layout->addLayout(fields);
  layout->addWidget(buttons);

  // The password is what is missing; the user is usually right already.
  password_->setFocus();
}

TLoginDialog::~TLoginDialog() {
  password_->clear();
}

TCredentials TLoginDialog::TakeCredentials() {
  QByteArray password = password_->text().toUtf8();
  password_->clear();
  std::string secret(password.constData(), static_cast<std::size_t>(password.size()));
  WipeBytes(password);
  TCredentials typed(user_->text().trimmed().toStdString(), secret);
  TCredentials::Wipe(secret);
  typed.SetSource("digitado na janela");
  return typed;
}

std::optional<TCredentials> TLoginDialog::Ask(QWidget* parent, const QString& user,
                                              const QString& reason) {
  TLoginDialog dialog(user, reason, parent);
  if (dialog.exec() != QDialog::Accepted) {
    return std::nullopt;
  }
  return dialog.TakeCredentials();
}
