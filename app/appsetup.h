#ifndef VANTOSCOPE_APPSETUP_H
#define VANTOSCOPE_APPSETUP_H

#include <QStringList>

class QApplication;

// Scales windows by the screen's device pixel ratio, fractional ratios
// (150%) included. Call it before the application object is created.
void enableHighDpiScaling();

// Registers the compiled-in style sheet and icons.
void initApplicationResources();

// Applies the compiled-in style sheet and the application font.
void applyApplicationStyle(QApplication &app);

// The capture named on the command line (`Viewer FILE`), or an empty string.
// `arguments` are the program's, its own name first.
QString captureArgument(const QStringList &arguments);

#endif
