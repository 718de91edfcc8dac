#include "RecordExport.h"
