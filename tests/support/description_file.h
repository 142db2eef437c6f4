// Description files for velkd-sim, built by the tests that need a platform of
// their own and written into the test's private /tmp.
#pragma once

#include <string>

#include "daemon_process.h"

namespace velkd::test {

class Description {
public:
    explicit Description(const std::string& model = "m")
        : text_("[platform]\nname = \"p\"\nmodel = \"" + model + "\"\n") {}
    // Another description's text (e.g. `velkd-sim --print-default`) to add to.
    static Description from(std::string text) {
        Description d;
        d.text_ = std::move(text) + "\n";
        return d;
    }

    // A sensor whose raw reading is its value (m = 1, b = 0), thresholds 0 to 5.
    Description& sensor(const std::string& id, int number,
                        const std::string& reading = "behaviour = \"constant\", value = 1.0") {
        return add("sensor", "id = \"" + id + "\"\nnumber = " + std::to_string(number) + "\npath = \"/s/" + id +
                                 "\"\nconversion = { m = 1.0, b = 0.0 }\n"
                                 "thresholds = { lnr = 0.0, lcr = 1.0, lnc = 2.0, unc = 3.0, ucr = 4.0, unr = 5.0 }\n"
                                 "reading = { " + reading + " }");
    }
    // Any other array entry: add("fault", "object = \"x\"\ndelay_ms = 10").
    Description& add(const std::string& table, const std::string& body) {
        text_ += "[[" + table + "]]\n" + body + "\n";
        return *this;
    }

    const std::string& text() const { return text_; }
    // Writes /tmp/NAME and returns its path.
    std::string write(const std::string& name) const { return write_file(name, text_); }

private:
    std::string text_;
};

} // namespace velkd::test
