// CreateFileMappingA for paging-file backed mappings and MapViewOfFile.
#include <sys/mman.h>

#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "platform/posix/errors.h"
#include "platform/posix/handles.h"
#include "platform/posix/named_objects.h"
#include "platform/posix/win32_memory.h"

namespace kavex::posix {

namespace {

constexpr std::uint64_t kViewGranularity = 65536;

class MappingObject final : public KernelObject {
public:
    MappingObject(std::shared_ptr<SharedSegment> segment, bool writable)
        : segment_(std::move(segment)), writable_(writable) {}

    const std::shared_ptr<SharedSegment>& Segment() const { return segment_; }
    bool Writable() const { return writable_; }

private:
    const std::shared_ptr<SharedSegment> segment_;
    const bool writable_;
};

// The views of this process. Each keeps its object alive, also after the
// mapping's handle is closed, until the process ends. Never destroyed, as
// views outlive the process's static objects.
struct Views {
    std::mutex mutex;
    std::vector<std::shared_ptr<SharedSegment>> segments;
};

Views& TheViews() {
    alignas(Views) static unsigned char storage[sizeof(Views)];
    static Views* const views = ::new (static_cast<void*>(storage)) Views();
    return *views;
}

}  // namespace

}  // namespace kavex::posix

using kavex::posix::Fail;
using kavex::posix::MappingObject;

HANDLE CreateFileMappingA(HANDLE hFile, LPSECURITY_ATTRIBUTES /*lpFileMappingAttributes*/, DWORD flProtect,
                          DWORD dwMaximumSizeHigh, DWORD dwMaximumSizeLow, LPCSTR lpName) {
    // Only mappings backed by the paging file exist here.
    if (hFile != INVALID_HANDLE_VALUE) {
        Fail(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    const DWORD protection = flProtect & ~SEC_COMMIT;
    const std::uint64_t size = (static_cast<std::uint64_t>(dwMaximumSizeHigh) << 32) | dwMaximumSizeLow;
    if ((protection != PAGE_READWRITE && protection != PAGE_READONLY) || size == 0) {
        Fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (size > SIZE_MAX / 4) {
        Fail(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    bool created = false;
    auto segment = kavex::posix::SharedSegment::Open(lpName, kavex::posix::NamedKind::kMapping,
                                                     static_cast<std::size_t>(size), nullptr, &created);
    if (!segment) return nullptr;
    const HANDLE handle = kavex::posix::InsertObject(
        std::make_shared<MappingObject>(std::move(segment), protection == PAGE_READWRITE));
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    SetLastError(created ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
    return handle;
}

LPVOID MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess, DWORD dwFileOffsetHigh,
                     DWORD dwFileOffsetLow, SIZE_T dwNumberOfBytesToMap) {
    auto mapping = kavex::posix::LookupObjectAs<MappingObject>(hFileMappingObject, ERROR_INVALID_HANDLE);
    if (!mapping) return nullptr;
    const bool write = (dwDesiredAccess & FILE_MAP_WRITE) != 0;
    if (!write && !(dwDesiredAccess & FILE_MAP_READ)) {
        Fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (write && !mapping->Writable()) {
        Fail(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    const std::uint64_t offset = (static_cast<std::uint64_t>(dwFileOffsetHigh) << 32) | dwFileOffsetLow;
    if (offset % kavex::posix::kViewGranularity != 0) {
        Fail(ERROR_MAPPED_ALIGNMENT);
        return nullptr;
    }
    const auto& segment = mapping->Segment();
    const std::uint64_t size = segment->DataSize();
    // Never past the mapping's end, whatever size its creator gave it.
    if (offset >= size || dwNumberOfBytesToMap > size - offset) {
        Fail(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    const std::size_t length =
        dwNumberOfBytesToMap != 0 ? dwNumberOfBytesToMap : static_cast<std::size_t>(size - offset);
    void* view =
        mmap(nullptr, length, write ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, segment->Descriptor(),
             static_cast<off_t>(kavex::posix::SharedSegment::kDataOffset + offset));
    if (view == MAP_FAILED) {
        kavex::posix::FailWithErrno();
        return nullptr;
    }
    auto& views = kavex::posix::TheViews();
    std::lock_guard<std::mutex> lock(views.mutex);
    views.segments.push_back(segment);
    return view;
}
