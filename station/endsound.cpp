#include "endsound.h"

#include <QSoundEffect>
#include <QUrl>
#include <QVariant>

// The sounds live in a static library; make sure they are registered.
static void initStationResources()
{
    Q_INIT_RESOURCE(station);
}

EndSound::EndSound(QObject *parent) : QObject(parent)
{
    initStationResources();
}

void EndSound::play(bool passed)
{
    QSoundEffect *&effect = passed ? pass : fail;
    if (!effect) {
        effect = new QSoundEffect(this);
        effect->setObjectName(passed ? QStringLiteral("passSound") : QStringLiteral("failSound"));
        effect->setSource(QUrl(passed ? QStringLiteral("qrc:/sounds/pass.wav")
                                      : QStringLiteral("qrc:/sounds/fail.wav")));
        // The first play waits for the file to load; later ones start at once.
        connect(effect, &QSoundEffect::statusChanged, effect, [effect] {
            if (effect->status() == QSoundEffect::Ready && effect->property("pending").toBool()) {
                effect->setProperty("pending", false);
                effect->play();
            }
        });
    }
    if (effect->status() == QSoundEffect::Ready)
        effect->play();
    else
        effect->setProperty("pending", true);
}
