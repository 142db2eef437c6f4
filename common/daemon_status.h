// The status values velkd-sim answers (0 is success) and the words both
// tools use for them: the daemon returns them, velkdirect prints the words
// ("unknown object (status 1)"). The READMEs and velkdirectfe(3) list the
// same words; the man-page test checks that they agree with this table.
#pragma once

#include <array>
#include <string_view>

namespace velk {

enum DaemonStatus : int {
    kOk = 0,
    kUnknownObject = 1,
    kOutOfRange = 2,
    kInvalidValue = 3,
    kReadOnly = 4,
    kInjectedFault = 5,
    kStorageError = 6,
    kWrongState = 7,
};

struct StatusWords {
    DaemonStatus status;
    std::string_view words;
};

// Every failure status, in order.
inline constexpr std::array<StatusWords, 7> kStatusWords = {{
    {kUnknownObject, "unknown object"},
    {kOutOfRange, "out of range"},
    {kInvalidValue, "invalid value"},
    {kReadOnly, "read only"},
    {kInjectedFault, "injected fault"},
    {kStorageError, "storage error"},
    {kWrongState, "wrong state"},
}};

static_assert([] {
    for (std::size_t i = 0; i < kStatusWords.size(); ++i)
        if (kStatusWords[i].status != static_cast<int>(i + 1)) return false;
    return true;
}(), "kStatusWords lists the statuses 1, 2, 3... in order");

// The words for a status; empty for 0 and for a value the daemon does not define.
constexpr std::string_view status_words(int status) {
    return status >= 1 && status <= static_cast<int>(kStatusWords.size()) ? kStatusWords[status - 1].words
                                                                          : std::string_view{};
}

} // namespace velk
