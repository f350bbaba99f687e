/* Our stdio.h, time.h, signal.h, math.h and string.h must not hide the system's: what is used
 * below comes from the system's. */
#include "greyplanes/LOGO2.h"
#include "greyplanes/Logo2.h"
#include "greyplanes/math.h"
#include "greyplanes/signal.h"
#include "greyplanes/stdio.h"
#include "greyplanes/string.h"
#include "greyplanes/time.h"

#include <math.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

int main(void) {
    /* 3 x 2 pixels: 1 byte a plane, 2 with padded rows. */
    const size_t expected = PADDED ? 2 : 1;
    const size_t sizes[] = {sizeof stdio_d,  sizeof time_d,  sizeof signal_d, sizeof math_d,
                            sizeof string_l, sizeof Logo2_d, sizeof LOGO2_l};
    size_t i;
    for (i = 0; i < sizeof sizes / sizeof sizes[0]; ++i) {
        if (sizes[i] != expected) {
            printf("wrong planes\n");
            return 1;
        }
    }
    signal(SIGINT, SIG_DFL);
    printf("%d x %d, %d, %d\n", stdio_width, stdio_height, (int)strlen("ab"),
           time(NULL) > 0 && HUGE_VAL > 0);
    return 0;
}
