#include "compat/FXMessageChannel.h"
