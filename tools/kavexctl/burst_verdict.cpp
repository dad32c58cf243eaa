#include "kavexctl/burst_verdict.h"

namespace kavexctl {

namespace {

constexpr char kStx = '\x02';
constexpr size_t kStandardDigits = 10;
constexpr size_t kMostDigits = 50;  // the longest code the library reads

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsFraming(char c) { return c == kStx || c == '\r' || c == '\n'; }

std::string JudgeCode(size_t digits, bool stx, bool cr, bool lf) {
    const std::string count = std::to_string(digits) + " digits";
    if (digits == kStandardDigits) {
        std::string framing = stx ? "0x02, " + count : count;
        if (cr || lf) framing += cr && lf ? ", CR LF" : cr ? ", CR" : ", LF";
        return framing + ": a standard reader";
    }
    if (digits <= kMostDigits) return count + ": use `kavexctl read --length " + std::to_string(digits) + "`";
    return count + ": more than a card code has (50 at most); two codes without framing?";
}

}  // namespace

std::vector<std::string> JudgeBurst(const std::string& bytes) {
    const std::vector<std::string> noise = {
        "bytes that are not digits: wrong baud rate or another kind of reader?"};
    for (char c : bytes) {
        if (!IsDigit(c) && !IsFraming(c)) return noise;
    }
    std::vector<std::string> verdicts;
    for (size_t i = 0; i < bytes.size();) {
        if (!IsDigit(bytes[i])) {
            ++i;
            continue;
        }
        const size_t start = i;
        while (i < bytes.size() && IsDigit(bytes[i])) ++i;
        const bool stx = start > 0 && bytes[start - 1] == kStx;
        const bool cr = i < bytes.size() && bytes[i] == '\r';
        const size_t afterCr = cr ? i + 1 : i;
        const bool lf = afterCr < bytes.size() && bytes[afterCr] == '\n';
        verdicts.push_back(JudgeCode(i - start, stx, cr, lf));
    }
    return verdicts.empty() ? noise : verdicts;
}

}  // namespace kavexctl
