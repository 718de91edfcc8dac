#include "TestRecord.h"
