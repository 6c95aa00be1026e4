// The partition-table writer.
#ifndef KV_RECOVER_H
#define KV_RECOVER_H

#include <fx.h>

#include <vector>

#include "Records.h"

class Recover {
public:
  Recover(std::vector<RecoverPart>&, FXProgressBar*, bool, const std::vector<std::vector<FXulong>>&,
          const std::vector<FXString>&) {}
};

#endif
