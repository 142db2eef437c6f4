// Writes a description as a description file that description_loader.h
// reads back into an equal description.
#pragma once

#include <string>
#include <vector>

#include "description.h"

namespace velkd {

// Comment lines the model has no place for.
struct WriteNotes {
    std::string header;                       // first, one comment line per line of it
    std::vector<std::string> indicator_notes; // by indicator: a line above its `mode`, when not empty
};

// Keys at their defaults are mostly left out: a FRU's `desc` and
// `properties`, a sensor's `note`, the platform's `polling`. Data areas are
// written as hex up to their last byte that is not 0xff (the loader pads to
// `size` with 0xff); numbers in their shortest form that reads back equal.
std::string write_description(const Description& description, const WriteNotes& notes = {});

// The double that a float's shortest decimal denotes: a reading captured from
// a daemon (a float) as a behaviour's value, written in the float's form and
// read back equal.
double float_decimal(float value);

} // namespace velkd
