// A platform description from untrusted text, read as velkd-sim reads its
// --config file and turned into the platform it would serve. A refused
// description must come back as a LoadError; anything else escaping, or a
// crash, is a finding. What the loader accepts must also be servable: each
// sensor's reading and thresholds are computed once.
#include <cstdint>
#include <string_view>

#include "description_loader.h"
#include "platform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        velkd::Platform platform(velkd::load_description_text(text, "fuzz.toml", "/nonexistent"), nullptr);
        for (std::size_t i = 0; i < platform.description().sensors.size(); ++i) {
            platform.sensor_values(i);
            platform.sensor_info(i);
            platform.thresholds(i);
        }
    } catch (const velkd::LoadError&) {
    }
    return 0;
}
