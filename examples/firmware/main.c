/* Draws the pictures it was built with as text, as a display driver would walk their planes:
 * '#' black, '+' dark grey, '-' light grey, ' ' white. */
#include "greyplanes/logo.h"
#include "greyplanes/tiny_1.h"
#include "greyplanes/walk.h"

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

/* A screen of two planes, 32 x 6 pixels in 16-bit words, the leftmost pixel in the top bit. */
enum { kWords = 2, kRows = walk_height };
static unsigned short screenDark[kRows][kWords];
static unsigned short screenLight[kRows][kWords];

/* Draws frame f of the walk cycle at the left of the screen as a sprite routine does: for each
 * row and each plane, screen = (screen & mask) | sprite. The mask's bits are 0 where the sprite
 * is opaque, so the AND clears those pixels and the OR draws them; elsewhere the screen stays. */
static void drawFrame(int f) {
    const unsigned short* dark = walk_d + f * walk_frame_size;
    const unsigned short* light = walk_l + f * walk_frame_size;
    const unsigned short* mask = walk_m + f * walk_m_frame_size;
    int y;
    for (y = 0; y < walk_height; ++y) {
        screenDark[y][0] = (unsigned short)((screenDark[y][0] & mask[y]) | dark[y]);
        screenLight[y][0] = (unsigned short)((screenLight[y][0] & mask[y]) | light[y]);
    }
}

static void drawScreen(void) {
    int x, y;
    printf("walk frame 1 of %d over stripes:\n", walk_frames);
    for (y = 0; y < kRows; ++y) {
        putchar('|');
        for (x = 0; x < 16 * kWords; ++x) {
            const unsigned bit = 0x8000u >> (x % 16);
            const int d = (screenDark[y][x / 16] & bit) != 0;
            const int l = (screenLight[y][x / 16] & bit) != 0;
            putchar(d ? (l ? '#' : '+') : (l ? '-' : ' '));
        }
        puts("|");
    }
}

int main(void) {
    int y, w;
    draw("logo", logo_width, logo_height, logo_d, logo_l, sizeof logo_d);
    draw("tiny_1", tiny_1_width, tiny_1_height, tiny_1_d, tiny_1_l, sizeof tiny_1_d);
    /* Stripes: every fourth column dark grey, the others light grey. */
    for (y = 0; y < kRows; ++y) {
        for (w = 0; w < kWords; ++w) {
            screenDark[y][w] = 0x8888u;
            screenLight[y][w] = 0x7777u;
        }
    }
    drawFrame(1);
    drawScreen();
    return 0;
}
