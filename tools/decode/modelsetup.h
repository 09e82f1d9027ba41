#ifndef VANTOSCOPE_DECODE_MODELSETUP_H
#define VANTOSCOPE_DECODE_MODELSETUP_H

#include <QString>
#include <QStringList>

class LiPkg;
class QTRNet;

// Puts a sensor model in force in the decoders the way choosing it in the
// window does, for programs that decode without the window.
namespace ModelSetup {

struct Applied
{
    QString name;                 // as the window lists it
    int baudrate = 0;             // line speed the window opens the port with
    bool commandProtocol = false; // true: the stream goes to QTRNet, else to LiPkg
};

// The edition's models in the order of the window's selector.
QStringList modelNames();

// The listed name matching `name` without regard to case, or an empty string.
QString canonicalName(const QString &name);

// Puts the first model in force, as the window does when it is built, then
// the model `name`, as choosing it in the selector does.
Applied applyModel(const QString &name, LiPkg &pkg, QTRNet &trNet);

} // namespace ModelSetup

#endif
