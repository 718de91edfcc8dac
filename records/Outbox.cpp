#include "Outbox.h"
