/* A stand-in for the declarations of LVGL 9 that an image descriptor uses, written from their
 * documented fields and values, so that the golden runner compiles and links an lvgl picture
 * without the library. The fields are in LVGL's order on little-endian targets. */
#ifndef GREYPLANES_TEST_LVGL_H
#define GREYPLANES_TEST_LVGL_H

#include <stdint.h>

#define LV_IMAGE_HEADER_MAGIC 0x19
#define LV_COLOR_FORMAT_I2 0x08
#define LV_ATTRIBUTE_MEM_ALIGN __attribute__((aligned(4)))

typedef struct {
    uint32_t magic : 8;
    uint32_t cf : 8;
    uint32_t flags : 16;
    uint32_t w : 16;
    uint32_t h : 16;
    uint32_t stride : 16;
    uint32_t reserved_2 : 16;
} lv_image_header_t;

typedef struct {
    lv_image_header_t header;
    uint32_t data_size;
    const uint8_t* data;
    const void* reserved;
} lv_image_dsc_t;

#define LV_IMAGE_DECLARE(name) extern const lv_image_dsc_t name

#endif
