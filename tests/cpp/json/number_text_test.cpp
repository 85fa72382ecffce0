// The number conversions against the C library's own in the "C" locale, and
// unchanged under a decimal-comma locale.

#include "json/number_text.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "json/json_value.h"

namespace vorn::typing::text {
namespace {

std::string printf_fixed(double number) {
    const int length = std::snprintf(nullptr, 0, "%f", number);
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), "%f", number);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

// What the conversion gives, or the message of what it throws, so that a
// value and an error compare in one expectation.
template <typename Convert>
std::string outcome(Convert convert, const std::string& text) {
    try {
        return printf_fixed(static_cast<double>(convert(text)));
    } catch (const std::invalid_argument& error) {
        return std::string("invalid_argument: ") + error.what();
    } catch (const std::out_of_range& error) {
        return std::string("out_of_range: ") + error.what();
    }
}

// The C library's readings in the "C" locale, with the messages our parser
// has always given for them.
double strtod_reference(const std::string& text) {
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (end == text.c_str()) {
        throw std::invalid_argument("invalid stod argument");
    }
    if (errno == ERANGE) {
        throw std::out_of_range("stod argument out of range");
    }
    return value;
}

std::int32_t strtol_reference(const std::string& text) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str()) {
        throw std::invalid_argument("invalid stol argument");
    }
    if (errno == ERANGE || value < INT32_MIN || value > INT32_MAX) {
        throw std::out_of_range("stol argument out of range");
    }
    return static_cast<std::int32_t>(value);
}

// Doubles of every magnitude, with exact ties at the sixth decimal, the
// extremes and the non-finite values.
std::vector<double> sample_doubles() {
    std::mt19937_64 random(20261208);
    std::vector<double> values = {0.0,
                                  -0.0,
                                  0.75,
                                  1.2,
                                  10.0 / 3.0,
                                  0.0000005,
                                  0.0000015,
                                  -0.0000005,
                                  0.0078125,  // 2^-7: exactly half-way at the sixth decimal
                                  2.5e-7,
                                  1e300,
                                  -std::numeric_limits<double>::max(),
                                  std::numeric_limits<double>::denorm_min(),
                                  std::numeric_limits<double>::infinity(),
                                  -std::numeric_limits<double>::infinity(),
                                  std::numeric_limits<double>::quiet_NaN(),
                                  -std::numeric_limits<double>::quiet_NaN()};
    for (int i = 0; i < 200000; ++i) {
        const std::uint64_t bits = random();
        double any = 0.0;
        std::memcpy(&any, &bits, sizeof any);
        values.push_back(any);
        const double scaled =
            std::ldexp(static_cast<double>(random() >> 11), static_cast<int>(random() % 90) - 75);
        values.push_back(scaled);
        values.push_back(-scaled);
        values.push_back(static_cast<double>(i) / 1048576.0);  // dyadic: many exact ties
    }
    return values;
}

// Number texts as the parser collects them: minus signs, digits and full
// stops in any order, plus lengths that overflow and underflow a double.
std::vector<std::string> sample_number_texts() {
    std::mt19937 random(7);
    const std::string alphabet = "-0123456789.";
    std::vector<std::string> texts = {"",
                                      "-",
                                      ".",
                                      "-.",
                                      "-.5",
                                      "5.",
                                      "0.75",
                                      "1.2.3",
                                      "12-3",
                                      "--1",
                                      "007",
                                      "2147483647",
                                      "2147483648",
                                      "-2147483648",
                                      "-2147483649",
                                      "99999999999999999999999",
                                      "1" + std::string(400, '0') + ".0",
                                      "0." + std::string(400, '0') + "1",
                                      "0." + std::string(310, '0') + "1",   // subnormal
                                      "0." + std::string(307, '0') + "22",  // near the least normal
                                      "2.4703282292062327e",
                                      "0.000000500000000000000000001"};
    for (int i = 0; i < 100000; ++i) {
        std::string text;
        const std::size_t length = random() % 24;
        for (std::size_t j = 0; j < length; ++j) {
            // Mostly digits, so that long valid numbers are common.
            text.push_back(random() % 4 == 0 ? alphabet[random() % alphabet.size()]
                                             : alphabet[1 + random() % 10]);
        }
        texts.push_back(text);
    }
    return texts;
}

TEST(NumberText, FixedTextIsPrintfInTheCLocaleToTheLastDigit) {
    for (const double value : sample_doubles()) {
        ASSERT_EQ(fixed_text(value), printf_fixed(value)) << std::hexfloat << value;
    }
}

TEST(NumberText, ReadersAreStrtodAndStrtolInTheCLocale) {
    for (const std::string& text : sample_number_texts()) {
        ASSERT_EQ(outcome(text_to_double, text), outcome(strtod_reference, text)) << text;
        ASSERT_EQ(outcome(text_to_int32, text), outcome(strtol_reference, text)) << text;
    }
}

// Sets a locale for the test's duration and puts the previous one back.
class ScopedLocale {
  public:
    explicit ScopedLocale(const char* name) : previous_(std::setlocale(LC_ALL, nullptr)) {
        active_ = std::setlocale(LC_ALL, name) != nullptr;
    }
    ScopedLocale(const ScopedLocale&) = delete;
    ScopedLocale& operator=(const ScopedLocale&) = delete;
    ~ScopedLocale() { std::setlocale(LC_ALL, previous_.c_str()); }
    bool active() const { return active_; }

  private:
    std::string previous_;
    bool active_ = false;
};

// CTest builds de_DE.UTF-8 into the folder that LOCPATH names.
TEST(NumberText, DecimalCommaLocaleChangesNothing) {
    if (std::getenv("LOCPATH") == nullptr) {
        GTEST_SKIP() << "needs LOCPATH with de_DE.UTF-8, as CTest provides";
    }
    const std::vector<std::string> texts = sample_number_texts();
    std::vector<std::string> in_c_locale;
    for (const std::string& text : texts) {
        in_c_locale.push_back(outcome(text_to_double, text));
    }
    JsonValue document = JsonValue::make(JsonKind::Object);
    document.member("_b").set_float(0.75);
    document.member("_doc_length_average").set_float(10.0 / 3.0);
    const std::string written_in_c_locale = document.serialize(1, "  ");

    const ScopedLocale comma("de_DE.UTF-8");
    ASSERT_TRUE(comma.active()) << "de_DE.UTF-8 is missing from LOCPATH";
    ASSERT_EQ(printf_fixed(0.75), "0,750000") << "the locale did not take effect";

    EXPECT_EQ(fixed_text(0.75), "0.750000");
    EXPECT_EQ(document.serialize(1, "  "), written_in_c_locale);
    const JsonValue read = JsonValue::parse(written_in_c_locale);
    bool ok = false;
    EXPECT_EQ(read.members().at("_b").to_float(ok), 0.75);
    EXPECT_TRUE(ok);
    for (std::size_t i = 0; i < texts.size(); ++i) {
        // printf_fixed itself now writes a comma; compare the digits.
        std::string here = outcome(text_to_double, texts[i]);
        for (char& c : here) {
            c = c == ',' ? '.' : c;
        }
        ASSERT_EQ(here, in_c_locale[i]) << texts[i];
    }
}

}  // namespace
}  // namespace vorn::typing::text
