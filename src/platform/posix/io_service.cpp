#include "platform/posix/io_service.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/posix/comm_device.h"

namespace kavex::posix {

namespace {

class IoService {
public:
    bool Watch(const std::shared_ptr<CommDevice>& device) {
        std::lock_guard<std::mutex> lifecycle(lifecycle_);
        // The wake pipe is made with the first transfer that has to wait, so
        // that a process which never has one holds no descriptor for it.
        if (wake_[0] < 0 && pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
            wake_[0] = wake_[1] = -1;
            return false;
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            const bool known =
                std::any_of(devices_.begin(), devices_.end(),
                            [&](const std::weak_ptr<CommDevice>& d) { return d.lock() == device; });
            if (!known) devices_.push_back(device);
        }
        if (!thread_.joinable()) {
            try {
                thread_ = std::thread([this] { Run(); });
            } catch (const std::system_error&) {
                return false;
            }
        }
        Wake();
        return true;
    }

    void Forget(const CommDevice* device) {
        std::lock_guard<std::mutex> lifecycle(lifecycle_);
        bool stop = false;
        {
            // The pass of the thread holds mutex_ while it uses a device, so
            // once this returns it uses this one no more.
            std::lock_guard<std::mutex> lock(mutex_);
            devices_.erase(std::remove_if(devices_.begin(), devices_.end(),
                                          [&](const std::weak_ptr<CommDevice>& d) {
                                              const auto held = d.lock();
                                              return !held || held.get() == device;
                                          }),
                           devices_.end());
            stop = devices_.empty() && thread_.joinable();
            if (stop) stopping_ = true;
        }
        if (!stop) return;
        Wake();
        thread_.join();
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = false;
    }

private:
    void Wake() const {
        const char byte = 1;
        [[maybe_unused]] const ssize_t ignored = write(wake_[1], &byte, 1);
    }

    void Run() {
        std::vector<pollfd> descriptors;
        for (;;) {
            descriptors.assign(1, pollfd{wake_[0], POLLIN, 0});
            std::int64_t timeoutMs = -1;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (stopping_) return;
                for (const auto& watched : devices_) {
                    const std::shared_ptr<CommDevice> device = watched.lock();
                    if (!device) continue;
                    const CommDevice::Wants wants = device->AdvancePending();
                    if (wants.pollEvents != 0)
                        descriptors.push_back({device->Descriptor(), wants.pollEvents, 0});
                    if (wants.waitMs >= 0 && (timeoutMs < 0 || wants.waitMs < timeoutMs))
                        timeoutMs = wants.waitMs;
                }
            }
            const int limit =
                timeoutMs < 0 ? -1 : static_cast<int>(std::min<std::int64_t>(timeoutMs, INT_MAX));
            if (poll(descriptors.data(), descriptors.size(), limit) < 0 && errno != EINTR) {
                // Nothing sensible to wait on; look again shortly.
                poll(nullptr, 0, 10);
            }
            char drain[64];
            while (read(wake_[0], drain, sizeof drain) > 0) {
            }
        }
    }

    int wake_[2] = {-1, -1};
    std::mutex lifecycle_;  // starting and stopping the thread
    std::mutex mutex_;      // devices_, stopping_, and the devices while a pass uses them
    std::vector<std::weak_ptr<CommDevice>> devices_;
    bool stopping_ = false;
    std::thread thread_;
};

// Never destroyed: a port still open at exit closes its handle, and with it
// stops the thread, after function-local statics built later are gone.
IoService& TheService() {
    alignas(IoService) static unsigned char storage[sizeof(IoService)];
    static IoService* const service = ::new (static_cast<void*>(storage)) IoService();
    return *service;
}

}  // namespace

bool WatchDevice(const std::shared_ptr<CommDevice>& device) { return TheService().Watch(device); }

void ForgetDevice(const CommDevice* device) { TheService().Forget(device); }

}  // namespace kavex::posix
