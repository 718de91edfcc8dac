#include "TestPlan.h"
