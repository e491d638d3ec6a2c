#pragma once

#include <QString>
#include <memory>
#include <optional>

#include "engine/run/MessageTypes.h"

class QMessageBox;
class QWidget;

// The program's modal message boxes: the kind sets title and icon, the
// buttons carry the Portuguese captions, "OK" (else "&Sim") is the default
// button and Escape answers "&Não" where present, else "OK".
class TMessageDialog {
 public:
  // Builds the box without showing it; a missing kind gives a plain box
  // titled with the application's display name.
  static std::unique_ptr<QMessageBox> Build(QWidget* parent, const QString& text,
                                            std::optional<MessageKind> kind,
                                            MessageButtons buttons);
  // Shows the box modally and returns the button pressed.
  static MessageAnswer Show(QWidget* parent, const QString& text, std::optional<MessageKind> kind,
                            MessageButtons buttons);
  // The title that belongs to a kind.
  static QString Title(std::optional<MessageKind> kind);
  // Message texts use a lone carriage return as line break.
  static QString DisplayText(const QString& text);
};
