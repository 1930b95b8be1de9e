// The pictures of the player window, embedded as resources. Each function gives the exact
// bytes of one PNG (or GIF) file; the loop button's mode is read back by comparing them.
#pragma once

#include <QIcon>

#include "util/types.h"

namespace newsbar {

const ByteSet& PauseImage();          // two vertical bars
const ByteSet& PlayImage();           // a right-pointing triangle
const ByteSet& LoopImageInOrder();    // two arrows forming a loop
const ByteSet& LoopImageRepeatOne();  // the same loop with a 1 inside
const ByteSet& LoopImageShuffle();    // two crossing arrows

const ByteSet& PreviousImage();
const ByteSet& NextImage();
const ByteSet& CloseImage();
const ByteSet& ListImage();
const ByteSet& CollapseImage();  // upward chevron
const ByteSet& RetryImage();     // two circling arrows
// 66 x 6, 7 frames, looping: shown in the cover's place while the catalogue loads.
const ByteSet& LoadingAnimation();

// The same drawing at twice the size, for screens with a device pixel ratio above 1;
// empty for bytes that are not one of the button pictures above.
const ByteSet& DoubleSizeImage(const ByteSet& picture);

// 16, 32, 48 and 64 px.
QIcon WindowIcon();

}  // namespace newsbar
