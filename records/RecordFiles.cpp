#include "RecordFiles.h"
