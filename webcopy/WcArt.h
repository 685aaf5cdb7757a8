// What the web copy dialogs' views show that is no GUI library's business:
// the frames of the animation clips and the login banner as pixels, and the
// rule that shortens a path to fit a label. The Qt views and the Windows
// views both draw from here.
#pragma once

#include <functional>
#include <string>

#include "platform/NativeUi.h"

namespace kivo::webcopy {

// The clips: 0 the system's file-copy clip, 257 the download clip, 258 the
// upload clip; frames repeat every ClipFrameCount and show every
// ClipFrameInterval milliseconds.
constexpr int ClipFrameCount = 16;
constexpr int ClipFrameInterval = 66;
constexpr int ClipWidth = 272;
constexpr int ClipHeight = 50;
// One frame (ARGB, transparent around the pictures).
ui::TPixelImage DrawClipFrame(int ResId, int Frame);

// The login banner without its word: 320 x 60, a sky-blue gradient with a
// golden key at the left (RGB). The views write "Login" on it.
constexpr int LoginBannerWidth = 320;
constexpr int LoginBannerHeight = 60;
ui::TPixelImage DrawLoginBannerArt();

// A picture reduced to 8 bits per pixel over the web-safe colour cube (6
// levels per channel), as the banner is kept.
ui::TPixelImage ToIndexed8(const ui::TPixelImage& Image);

// Text fitted into Width the way a path is shortened: the end (from the
// last '/' or '\') stays, the characters before it give way to "..."; when
// even that end does not fit, its start goes too. Measure gives the width
// of a text in the label's font. Characters are never split.
std::string ElidePathText(const std::string& Text, int Width,
                          const std::function<int(const std::string&)>& Measure);

} // namespace kivo::webcopy
