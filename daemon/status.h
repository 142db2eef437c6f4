// Status values that velkd-sim answers; 0 is success. Listed in README.md,
// which the CLI's wording follows.
#pragma once

namespace velkd {

enum Status : int {
    kOk = 0,
    kUnknownObject = 1,
    kOutOfRange = 2,
    kInvalidValue = 3,
    kReadOnly = 4,
    kInjectedFault = 5,
    kStorageError = 6,
    kWrongState = 7,
};

} // namespace velkd
