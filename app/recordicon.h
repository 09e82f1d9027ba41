#ifndef VANTOSCOPE_RECORDICON_H
#define VANTOSCOPE_RECORDICON_H

#include <QIcon>

// The record button's icon: a red disc in a ring, drawn for the size asked
// so that it is sharp at every toolbar size. Checked (recording), the ring
// turns red as well; disabled, everything is grey.
QIcon recordIcon();

#endif
