// The accessors of single settings and of the path in the shared view.
#include "settings/version_config.h"

namespace {

constexpr BYTE kDefaultOptionCode = 14;
constexpr char kEmpty[] = "";

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

const char* PeekOptionText() {
    const VersionConfigView* view = kavex::settings::SharedView();
    return view != nullptr ? view->record.Text662 : kEmpty;
}

const char* PeekConfigPath() {
    const VersionConfigView* view = kavex::settings::SharedView();
    return view != nullptr ? view->path : kEmpty;
}
