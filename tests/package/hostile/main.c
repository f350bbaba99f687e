/* Our stdio.h must not hide the system's: printf comes from <stdio.h>. */
#include "greyplanes/LOGO2.h"
#include "greyplanes/Logo2.h"
#include "greyplanes/stdio.h"

#include <stdio.h>

int main(void) {
    /* 3 x 2 pixels: 1 byte a plane, 2 with padded rows. */
    const int expected = PADDED ? 2 : 1;
    if (sizeof stdio_d != expected || sizeof Logo2_d != expected || sizeof LOGO2_l != expected) {
        printf("wrong planes\n");
        return 1;
    }
    printf("%d x %d\n", stdio_width, stdio_height);
    return 0;
}
