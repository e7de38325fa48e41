#!/usr/bin/env bash
# Draws the program's icons and generates its two sounds. Run once; the results are committed.
set -euo pipefail
cd "$(dirname "$0")/../res"

# Program icon: a dark screen with a green prompt, 32x32 and 16x16.
convert -size 32x32 xc:none \
  -fill '#2f3b4c' -stroke '#0e1622' -draw 'roundrectangle 1,3 30,24 3,3' \
  -fill '#101820' -stroke none -draw 'rectangle 4,6 27,21' \
  -fill '#3ad14a' -draw 'polygon 7,9 12,13 7,17' -draw 'rectangle 14,16 20,17' \
  -fill '#2f3b4c' -draw 'rectangle 13,25 18,27' -draw 'rectangle 8,28 23,29' \
  icons/orvane.png
convert icons/orvane.png -resize 16x16 icons/orvane-16.png

# Tray icons, 16x16: the prompt lit green while someone is connected, grey while idle.
tray() {
  convert -size 16x16 xc:none \
    -fill '#2f3b4c' -stroke '#0e1622' -draw 'roundrectangle 0,1 15,12 2,2' \
    -fill '#101820' -stroke none -draw 'rectangle 2,3 13,10' \
    -fill "$1" -draw 'polygon 3,4 6,6 3,8' -draw 'rectangle 7,8 10,9' \
    -fill '#2f3b4c' -draw 'rectangle 6,13 9,13' -draw 'rectangle 4,14 11,15' \
    "icons/$2"
}
tray '#3ad14a' busy.png
tray '#8a8f96' idle.png

python3 - <<'PY'
import math, struct, wave
def tone(name, freqs, each=0.09, rate=11025):
    frames = bytearray()
    for f in freqs:
        n = int(rate * each)
        for i in range(n):
            fade = min(1.0, i / 200, (n - i) / 200)
            frames += struct.pack('<h', int(9000 * fade * math.sin(2 * math.pi * f * i / rate)))
    with wave.open(name, 'wb') as w:
        w.setnchannels(1); w.setsampwidth(2); w.setframerate(rate); w.writeframes(bytes(frames))
tone('LOGIN.WAV', [660, 880])
tone('LOGOUT.WAV', [880, 660])
PY
