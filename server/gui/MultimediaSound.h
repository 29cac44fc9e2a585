#pragma once

#include "AlertSound.h"

#include <memory>

class QSoundEffect;

namespace vts {

// The bundled alert sound through Qt Multimedia where an audio output
// exists; the terminal bell otherwise.
class MultimediaSound final : public AlertSound {
public:
    MultimediaSound();
    ~MultimediaSound() override;
    void play() override;
    bool hasAudio() const { return m_effect != nullptr; }

private:
    std::unique_ptr<QSoundEffect> m_effect;
    TerminalBell m_bell;
};

}  // namespace vts
