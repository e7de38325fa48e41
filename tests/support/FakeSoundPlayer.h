// A sound player that records the files it was asked to play.
#pragma once

#include <QString>
#include <QStringList>

#include "platform/SoundPlayer.h"

namespace orvane::test {

class FakeSoundPlayer final : public SoundPlayer {
public:
    void PlayAsync(const QString& filePath) override { played.append(filePath); }
    QStringList played;
};

}  // namespace orvane::test
