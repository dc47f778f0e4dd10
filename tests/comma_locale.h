// A host that has set a comma-decimal locale, for the length of one scope: the C library's
// locale (as setlocale(LC_ALL, "") under such a locale would set it) and the C++ global locale,
// both put back at the end. Where the system has no such locale, active() is false and the test
// skips itself.
#pragma once

#include <clocale>
#include <locale>
#include <stdexcept>
#include <string>

namespace test_support {

class CommaLocale {
public:
    CommaLocale() {
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"}) {
            try {
                previous_ = std::locale::global(std::locale(name));  // sets the C locale too
            } catch (const std::runtime_error&) {
                continue;
            }
            active_ = std::localeconv()->decimal_point[0] == ',';
            name_ = name;
            return;
        }
    }
    ~CommaLocale() {
        if (!name_.empty()) std::locale::global(previous_);
    }
    CommaLocale(const CommaLocale&) = delete;
    CommaLocale& operator=(const CommaLocale&) = delete;

    bool active() const { return active_; }
    static const char* skip_reason() {
        return "no comma-decimal locale on this system (scripts/setup.sh generates de_DE.UTF-8)";
    }

private:
    std::locale previous_;
    std::string name_;
    bool active_ = false;
};

}  // namespace test_support
