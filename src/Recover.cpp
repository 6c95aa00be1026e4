// The partition-table writer.
#include "Recover.h"
