#pragma once
// The start-up check for a newer release of the tool. Not built yet: the
// start-up timer calls it and it does nothing, and it never touches the
// network.

void RunSoftwareUpdateCheck();
