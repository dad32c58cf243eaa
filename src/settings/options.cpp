// The accessors of single settings and of the path in the shared view.
#include <cstring>

#include "settings/version_config.h"

namespace {

constexpr BYTE kDefaultOptionCode = 14;
constexpr char kEmpty[] = "";
constexpr std::size_t kOptionTextWidth = sizeof(VersionConfigRecord::Text662);

// Text662 as a C string. The view's own bytes when the field holds a
// terminator; else (a loaded file may hold none) a terminated copy of the
// field, kept per thread until that thread's next call, so that no reader
// runs on into the fields after it.
const char* OptionText(const VersionConfigView* view) {
    if (view == nullptr) return kEmpty;
    const char* field = view->record.Text662;
    if (std::memchr(field, '\0', kOptionTextWidth) != nullptr) return field;
    thread_local char copy[kOptionTextWidth + 1];
    std::memcpy(copy, field, kOptionTextWidth);
    copy[kOptionTextWidth] = '\0';
    return copy;
}

}  // namespace

BYTE GetOptionCode() {
    const CVersionConfig config(nullptr, TRUE);
    const BYTE code = PeekOptionCode();
    return code != 0 ? code : kDefaultOptionCode;
}

const char* GetOptionText() {
    { const CVersionConfig config(nullptr, TRUE); }
    return PeekOptionText();
}

BYTE PeekOptionCode() {
    const VersionConfigView* view = kavex::settings::SharedView();
    return view != nullptr ? view->record.Byte645 : 0;
}

const char* PeekOptionText() { return OptionText(kavex::settings::SharedView()); }

const char* PeekConfigPath() {
    const VersionConfigView* view = kavex::settings::SharedView();
    return view != nullptr ? view->path : kEmpty;
}
