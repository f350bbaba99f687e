/* Draws the pictures it was built with as text, as a display driver would walk their planes:
 * '#' black, '+' dark grey, '-' light grey, ' ' white. */
#include "greyplanes/logo.h"
#include "greyplanes/tiny_1.h"

#include <stdio.h>

static void draw(const char* name, int width, int height, const unsigned char* dark,
                 const unsigned char* light, size_t planeBytes) {
    /* PAD_ROWS: every row starts on a new byte. */
    const int stride = (width + 7) / 8;
    int x, y;
    printf("%s: %d x %d, %u bytes a plane\n", name, width, height, (unsigned)planeBytes);
    for (y = 0; y < height; ++y) {
        putchar('|');
        for (x = 0; x < width; ++x) {
            const int byte = y * stride + x / 8;
            const int bit = 0x80 >> (x % 8);
            const int d = (dark[byte] & bit) != 0;
            const int l = (light[byte] & bit) != 0;
            putchar(d ? (l ? '#' : '+') : (l ? '-' : ' '));
        }
        puts("|");
    }
}

int main(void) {
    draw("logo", logo_width, logo_height, logo_d, logo_l, sizeof logo_d);
    draw("tiny_1", tiny_1_width, tiny_1_height, tiny_1_d, tiny_1_l, sizeof tiny_1_d);
    return 0;
}
