// Plays a wave file without waiting for it; a missing file or sound device stays silent.
#pragma once

#include <QString>

namespace orvane {

class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    virtual void PlayAsync(const QString& filePath) = 0;
};

}  // namespace orvane
