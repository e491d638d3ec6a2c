#pragma once

#include <QDialog>
#include <QString>
#include <optional>

#include "engine/firebird/TCredentials.h"

class QLabel;
class QLineEdit;
class QPushButton;

// Asks for another user and password after the server refused the login:
// the server's reason, "Usuário" (filled with the user refused), "Senha"
// (hidden), OK and "Cancelar".
class TLoginDialog : public QDialog {
  Q_OBJECT

 public:
  TLoginDialog(const QString& user, const QString& reason, QWidget* parent = nullptr);
  ~TLoginDialog() override;

  // What was typed; the password field is emptied as it is read.
  TCredentials TakeCredentials();

  // Shows the dialog modally; nothing when Cancelar was pressed.
  static std::optional<TCredentials> Ask(QWidget* parent, const QString& user,
                                         const QString& reason);

 private:
  QLabel* reason_ = nullptr;
  QLineEdit* user_ = nullptr;
  QLineEdit* password_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
};
