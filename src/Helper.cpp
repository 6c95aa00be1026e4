#include "Helper.h"

namespace Helper {
void hexDump(const FXuchar*) {}
}
