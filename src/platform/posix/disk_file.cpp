#include "platform/posix/disk_file.h"

#include "platform/posix/errors.h"

namespace kavex::posix {

std::shared_ptr<KernelObject> OpenDiskFile(const char*, DWORD, DWORD, DWORD, DWORD) {
    Fail(ERROR_NOT_SUPPORTED);
    return nullptr;
}

}  // namespace kavex::posix
