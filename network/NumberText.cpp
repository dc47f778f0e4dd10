#include "network/NumberText.h"

#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdlib>
#include <locale>
#include <sstream>
#include <stdexcept>
#include <string>

#if defined(__APPLE__)
#include <xlocale.h>
#endif

namespace varnok {

namespace {

#if defined(_WIN32)
using LocaleHandle = _locale_t;
LocaleHandle make_c_locale() { return _create_locale(LC_ALL, "C"); }
double strtod_in(const char* text, char** end, LocaleHandle c) { return _strtod_l(text, end, c); }
long strtol_in(const char* text, char** end, LocaleHandle c) { return _strtol_l(text, end, 10, c); }
#else
using LocaleHandle = locale_t;
LocaleHandle make_c_locale() { return newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0)); }
double strtod_in(const char* text, char** end, LocaleHandle c) { return strtod_l(text, end, c); }
long strtol_in(const char* text, char** end, LocaleHandle c) { return strtol_l(text, end, 10, c); }
#endif

// Made once, on first use, and kept for the life of the process.
LocaleHandle c_locale() {
    static const LocaleHandle c = make_c_locale();
    if (!c) throw std::runtime_error("cannot create the C locale for reading numbers");
    return c;
}

// The failure of the standard conversion itself, its type and text being the standard
// library's: provoked with a text that fails the same way under every locale.
[[noreturn]] void raise_stod_failure(bool out_of_range) {
    static_cast<void>(std::stod(out_of_range ? "1e999999" : "x"));
    throw std::out_of_range("stod");  // not reached
}

[[noreturn]] void raise_stoi_failure(bool out_of_range) {
    static_cast<void>(std::stoi(out_of_range ? "99999999999999999999" : "x"));
    throw std::out_of_range("stoi");  // not reached
}

// errno as the caller had it, unless the conversion set it.
class SavedErrno {
public:
    SavedErrno() : saved_(errno) { errno = 0; }
    ~SavedErrno() {
        if (errno == 0) errno = saved_;
    }
    SavedErrno(const SavedErrno&) = delete;
    SavedErrno& operator=(const SavedErrno&) = delete;

private:
    int saved_;
};

}  // namespace

double parse_real(const std::string& text) {
    const LocaleHandle c = c_locale();
    const SavedErrno errno_guard;
    const char* begin = text.c_str();
    char* end = nullptr;
    const double value = strtod_in(begin, &end, c);
    if (end == begin) raise_stod_failure(false);
    if (errno == ERANGE) raise_stod_failure(true);
    return value;
}

int parse_integer(const std::string& text) {
    const LocaleHandle c = c_locale();
    const SavedErrno errno_guard;
    const char* begin = text.c_str();
    char* end = nullptr;
    const long value = strtol_in(begin, &end, c);
    if (end == begin) raise_stoi_failure(false);
    if (errno == ERANGE || value < INT_MIN || value > INT_MAX) raise_stoi_failure(true);
    return static_cast<int>(value);
}

std::string format_default(double value) {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out << value;
    return out.str();
}

}  // namespace varnok
