// The status values velkd-sim answers, declared with their words in
// common/daemon_status.h; here as velkd::kOk, velkd::kUnknownObject, ...
#pragma once

#include "daemon_status.h"

namespace velkd {

using enum velk::DaemonStatus;

} // namespace velkd
