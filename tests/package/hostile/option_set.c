/* Each option set's target reaches its own headers. */
#include "greyplanes/sample.h"
