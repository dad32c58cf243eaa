// Text conversions for showing and editing the configuration's GBK texts.
#pragma once

#include <string>

namespace kavexctl {

// GBK bytes as UTF-8; bytes that are not valid GBK appear as \xNN.
std::string GbkToUtf8(const std::string& gbk);
// UTF-8 as GBK; false when the text has characters GBK cannot hold.
bool Utf8ToGbk(const std::string& utf8, std::string* gbk);
// A JSON string literal (quotes included) for UTF-8 text.
std::string JsonString(const std::string& utf8);

}  // namespace kavexctl
