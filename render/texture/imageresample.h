// Image resampling and down-sizing: point sampling and the area-weighted box filter for 8-bit images,
// normal-map re-normalisation, the black border of "zeroclamp" images and the size limits chosen by
// the "image_downSize..." variables. Main thread only: the box filter's scratch block is process-wide.
#pragma once

#include <cstdint>

#include "lib/interface/texmanager.h"

// Bytes of the process-wide intermediate of the box filter.
constexpr int kResampleScratchSize = 0x100000;

bool isImageSizeLimited(uint32_t flags);
// Scales src down to the limit of its class into dst; src's pixels are consumed (dst owns the result;
// dst and src may be the same record).
void limitImageSize(ImageData* dst, ImageData* src, uint32_t flags);
// dst gets a new block of width x height; src is left as it is.
void resizeImage(ImageData* dst, const ImageData* src, int width, int height, uint32_t flags);
// mode 0 point sampling, 1 box filter; dst holds width x height pixels of src's format.
void resampleImage(const ImageData* src, int mode, uint8_t* dst, int width, int height);
void renormalizeNormalMap(ImageData* data);
void clearImageBorder(ImageData* data);
