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

// What the command line asks for: `Viewer [--share [ADDRESS:]PORT] [FILE]`.
// `arguments` are the program's, its own name first.
struct LaunchOptions
{
    QString capture; // to replay; empty when none is named
    bool share = false;
    QString shareAddress; // as given to --share
};
LaunchOptions launchOptions(const QStringList &arguments);

// The capture named on the command line (`Viewer FILE`), or an empty string.
QString captureArgument(const QStringList &arguments);

#endif
