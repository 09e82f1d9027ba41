#ifndef VANTOSCOPE_APPSETUP_H
#define VANTOSCOPE_APPSETUP_H

class QApplication;

// Registers the compiled-in style sheet and icons.
void initApplicationResources();

// Applies the compiled-in style sheet and the application font.
void applyApplicationStyle(QApplication &app);

#endif
