#pragma once
// The LCD panel's segment-display font "SEGO-A2", shipped inside the program.
// Besides segment digits it draws annunciator symbols for some characters:
// '"' hold, '$' battery, '&' beeper, ')' diode, '+' and 'u' micro, '*' ohm,
// '#' degrees Celsius, '?' degrees Fahrenheit, '@' the L of the overload display.
#include <QFont>
#include <QString>

// Registers the font with the application (once; needs a QGuiApplication) and
// returns its family name. If the font cannot be loaded the family name is
// still returned, so the text falls back to an installed font of that name or
// the default font.
QString LcdFontFamily();

// The LCD font with a character (em) height of pixelHeight pixels.
QFont LcdFont(int pixelHeight, bool bold = false);
