// A host that has set a comma-decimal locale, for the length of one scope: the C library's
// locale (as setlocale(LC_ALL, "") under such a locale would set it) and the C++ global locale,
// both put back at the end. Where the C++ library knows no named locale (mingw-w64's knows only
// "C") but the C runtime does, the C runtime's locale alone. Where the system has no such
// locale, active() is false and the test skips itself.
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
        const std::string previous_c = std::setlocale(LC_ALL, nullptr);
        for (const char* name : {"German_Germany.1252", "French_France.1252"}) {
            if (std::setlocale(LC_ALL, name) == nullptr) continue;
            active_ = std::localeconv()->decimal_point[0] == ',';
            previous_c_ = previous_c;
            return;
        }
    }
    ~CommaLocale() {
        if (!name_.empty()) std::locale::global(previous_);
        if (!previous_c_.empty()) std::setlocale(LC_ALL, previous_c_.c_str());
    }
    CommaLocale(const CommaLocale&) = delete;
    CommaLocale& operator=(const CommaLocale&) = delete;

    bool active() const { return active_; }
    static const char* skip_reason() {
        return "no comma-decimal locale on this system (scripts/setup.sh generates de_DE.UTF-8)";
    }

private:
    std::locale previous_;
    std::string name_;        // the C++ global locale set, when one was
    std::string previous_c_;  // the C locale to put back, when only it was set
    bool active_ = false;
};

}  // namespace test_support
