// PNG decoding through libpng's memory reader.
#include "platform/image.h"

#include <cstring>
#include <png.h>

int picture_decode_png(const std::uint8_t *data, std::size_t size, int channels, std::uint8_t *storage,
                       std::size_t capacity, Picture *out) {
    *out = Picture{0, 0, channels, nullptr};
    if (data == nullptr || storage == nullptr || (channels != 3 && channels != 4)) return 0;
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, data, size)) return 0;
    image.format = channels == 4 ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
    std::size_t needed = PNG_IMAGE_SIZE(image);
    if (needed > capacity || image.width == 0 || image.height == 0) {
        png_image_free(&image);
        return 0;
    }
    if (!png_image_finish_read(&image, nullptr, storage, 0, nullptr)) {
        png_image_free(&image);
        return 0;
    }
    *out = Picture{static_cast<int>(image.width), static_cast<int>(image.height), channels, storage};
    return 1;
}
