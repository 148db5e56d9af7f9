#pragma once
// Builds setups of realistic size for benchmarks: 2 accounts, 5 groups with 10 messages and 3 custom
// fields each, and contacts with names, 3 custom field values and 5 history entries.
#include "model/cvSetup.h"

#include <memory>

std::unique_ptr<TcvSetup> GenerateSetup(int contactCount, unsigned seed = 1);
