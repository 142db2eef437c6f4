// The names of a sensor's six thresholds, in the daemon's order (bit i of a
// threshold state is threshold i): lower non-recoverable, lower critical,
// lower non-critical, upper non-critical, upper critical, upper
// non-recoverable (protocol.toml lists them).
#pragma once

#include "protocol_tables.h"
