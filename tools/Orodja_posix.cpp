// The one place in tools that asks the operating system directly.
#include "Orodja.h"

#include <unistd.h>

uint CurrentUserId() {
    return static_cast<uint>(getuid());
}
