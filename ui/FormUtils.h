#pragma once

class QWidget;
class QColor;
class QPalette;

// Small helpers shared by the dialogs.
namespace FormUtils {

// Registers Linux look-alikes for the Windows families the forms name
// ("MS Sans Serif", "Courier New", "System"), so a missing family falls back
// to a similar one instead of whatever the font matcher picks. Idempotent.
void InstallFontSubstitutes();

// The dialogs' own font: "MS Sans Serif", 11 pixels high, or its look-alike.
void ApplyFormFont(QWidget *form);

// Moves a top-level window so that it is centred on its screen (the primary
// screen when it has none yet).
void CentreOnScreen(QWidget *window);

// The background of fields that only a picker fills: the palette's grey-text colour.
QColor GreyTextColour(const QPalette &palette);
void MakeGrey(QWidget *field);

} // namespace FormUtils
