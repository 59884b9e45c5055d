#pragma once
// A locale with a decimal comma for the tests that prove numbers ignore the locale. The build
// generates ru_RU.UTF-8 into the build tree when the machine has no such locale installed.
#include <clocale>
#include <cstdlib>
#include <string>

namespace movra::testing {

// Sets LC_NUMERIC to a locale with a decimal comma for the test's lifetime; false if none.
class CommaLocale {
  public:
    CommaLocale() {
        const char* old = std::setlocale(LC_NUMERIC, nullptr);
        old_ = old ? old : "C";
#ifdef MOVRA_TEST_LOCPATH
        setenv("LOCPATH", MOVRA_TEST_LOCPATH, 1);
#endif
        for (const char* name : {"ru_RU.UTF-8", "ru_RU.utf8", "ru_RU", "Russian_Russia.1251",
                                 "Russian", "de_DE.UTF-8", "German"}) {
            if (std::setlocale(LC_NUMERIC, name) && std::localeconv()->decimal_point[0] == ',') {
                ok_ = true;
                break;
            }
        }
    }
    ~CommaLocale() {
        std::setlocale(LC_NUMERIC, old_.c_str());
#ifdef MOVRA_TEST_LOCPATH
        unsetenv("LOCPATH");
#endif
    }
    bool ok() const {
        return ok_;
    }

  private:
    std::string old_;
    bool ok_ = false;
};

}  // namespace movra::testing
