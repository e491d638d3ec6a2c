#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QImage>
#include <QRect>
#include <QString>

class QFrame;
class QLabel;
class QPushButton;
class QWidget;

// The fonts, colours and control makers the window's form and its step rows
// share, so that both keep the original form's look.

// Tahoma at a pixel size; where Tahoma is missing, a sans font of the same size.
QFont TahomaFont(int pixelSize, bool bold = false);
bool HasWingdings();
// The font of the step rows' status glyph.
QFont GlyphFont();
// Text colour while enabled; a disabled control keeps the style's grey.
void SetTextColour(QWidget* widget, const QColor& colour);

// Children of `parent`, owned by it, named `name`.
QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, int x, int y,
                  const QFont& font);
QFrame* MakeRule(QWidget* parent, const char* name, const QRect& geometry, bool vertical);
QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text,
                        const QRect& geometry);

// A JPEG picture of the resources; a null image (and a warning) when unreadable.
QImage ReadPicture(const QString& path);
// A button's icon from a strip holding the enabled and the disabled picture.
QIcon StripIcon(const QString& path);
