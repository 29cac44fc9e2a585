#include "MultimediaSound.h"

#include <QAudioDevice>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>

namespace vts {

MultimediaSound::MultimediaSound() {
    if (QMediaDevices::audioOutputs().isEmpty()) {
        return;
    }
    m_effect = std::make_unique<QSoundEffect>();
    m_effect->setSource(QUrl(QStringLiteral("qrc:/vantrel/alert.wav")));
    m_effect->setVolume(0.8f);
}

MultimediaSound::~MultimediaSound() = default;

void MultimediaSound::play() {
    if (m_effect && m_effect->status() != QSoundEffect::Error) {
        m_effect->play();
        return;
    }
    m_bell.play();
}

}  // namespace vts
