#ifndef VANTOSCOPE_RECONNECTOR_H
#define VANTOSCOPE_RECONNECTOR_H

#include "portenumerator.h"

#include <QObject>

class SensorSession;

// How one adapter is told apart from the other ports, so that it is found
// again after it was pulled, even under another name.
struct AdapterIdentity
{
    enum class By
    {
        Nothing,      // not known: never found again
        SerialNumber, // unique among the bridges when it was remembered
        PhysicalPath, // where it is plugged in
        Path,         // an extra port's own path
    };
    By by = By::Nothing;
    QString key;
};

// The identity of `port` among the ports `present` with it: its serial
// number when no other bridge there has the same one (unprogrammed bridges
// all report the same), else where it is plugged in. Extra ports are known
// by their path.
AdapterIdentity identifyAdapter(const PortEntry &port, const QList<PortEntry> &present);
// The name the adapter has among `ports`; empty while it is not there, or
// when more than one port fits.
QString findAdapter(const AdapterIdentity &adapter, const QList<PortEntry> &ports);

// Opens the port again when the adapter of a lost line comes back. It
// remembers the adapter whenever the session connects, starts waiting when
// the device is lost (never on a Stop), and tries whenever the ports may have
// changed. The model, the view and a recording are the window's and stay.
class Reconnector : public QObject
{
    Q_OBJECT
public:
    Reconnector(SensorSession *session, PortEnumerator ports, QObject *parent = nullptr);

    void setEnabled(bool enabled);
    bool isEnabled() const { return enabled; }
    // Between a lost device and the port open again.
    bool waiting() const { return !lostPort.isEmpty(); }
    // The name of the port that was lost, while waiting.
    QString lostPortName() const { return lostPort; }
    // Stops waiting; true when it was.
    bool cancel();

public slots:
    // Looks for the adapter among the ports and opens it when it is there.
    void portsMayHaveChanged();

signals:
    void waitingStarted(const QString &portName);
    void reconnected(const QString &portName);

private:
    void remember();
    void deviceLost();

    SensorSession *session;
    PortEnumerator enumerator;
    bool enabled = true;
    AdapterIdentity adapter;
    QString connectedPort;
    QString lostPort;
    int baudrate = 0;
};

#endif
