#include "SoftwareUpdateCheck.h"

void RunSoftwareUpdateCheck() {}
