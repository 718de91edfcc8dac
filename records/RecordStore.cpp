#include "RecordStore.h"
