// The POSIX layer's handle table: a call that looked a handle up keeps its
// object while another thread closes the handle, the object ends with the
// last such call, and a handle value is not given to a new object while its
// old one is still in use.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "platform/posix/handles.h"

namespace {

using kavex::posix::BorrowObject;
using kavex::posix::InsertObject;
using kavex::posix::KernelObject;
using kavex::posix::RemoveObject;

// Counts its own ends and complains when used after one.
class Probe final : public KernelObject {
public:
    explicit Probe(std::atomic<int>* ends) : ends_(ends) {}
    ~Probe() override {
        alive_ = false;
        ends_->fetch_add(1);
    }
    bool Alive() const { return alive_.load(); }

private:
    std::atomic<int>* ends_;
    std::atomic<bool> alive_{true};
};

TEST(HandleTableTest, AClosedHandlesObjectEndsWithItsLastCall) {
    std::atomic<int> ends{0};
    const HANDLE handle = InsertObject(std::make_shared<Probe>(&ends));
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    {
        const auto call = BorrowObject(handle);  // a call in progress on another thread
        ASSERT_TRUE(call);
        EXPECT_TRUE(RemoveObject(handle));
        EXPECT_EQ(ends.load(), 0);
        EXPECT_TRUE(static_cast<Probe*>(call.get())->Alive());

        SetLastError(0);
        EXPECT_FALSE(BorrowObject(handle));  // the handle itself is gone at once
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        EXPECT_FALSE(RemoveObject(handle));

        // Its value is not handed out again while the old object is in use.
        const HANDLE other = InsertObject(std::make_shared<Probe>(&ends));
        EXPECT_NE(other, handle);
        EXPECT_TRUE(RemoveObject(other));
        EXPECT_EQ(ends.load(), 1);  // unborrowed: it ends on its close
    }
    EXPECT_EQ(ends.load(), 2);
    const HANDLE again = InsertObject(std::make_shared<Probe>(&ends));
    EXPECT_EQ(again, handle);  // the lowest free value, once nothing uses it
    EXPECT_TRUE(RemoveObject(again));
}

TEST(HandleTableTest, LookupKeepsTheObjectBeyondTheClose) {
    std::atomic<int> ends{0};
    const HANDLE handle = InsertObject(std::make_shared<Probe>(&ends));
    std::shared_ptr<KernelObject> kept = kavex::posix::LookupObject(handle);
    ASSERT_TRUE(kept);
    EXPECT_TRUE(RemoveObject(handle));
    EXPECT_EQ(ends.load(), 0);
    kept.reset();
    EXPECT_EQ(ends.load(), 1);
}

TEST(HandleTableTest, NamesOfNoObjectAreRefused) {
    for (const auto value :
         {std::uintptr_t{0}, std::uintptr_t{3}, std::uintptr_t{4} * 5000, ~std::uintptr_t{0}}) {
        SetLastError(0);
        EXPECT_FALSE(BorrowObject(reinterpret_cast<HANDLE>(value)));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        EXPECT_FALSE(RemoveObject(reinterpret_cast<HANDLE>(value)));
    }
}

// Threads using one handle while another closes it and opens new ones: every
// object ends exactly once, never while a call uses it.
TEST(HandleTableTest, CallsRacingACloseNeverSeeAnEndedObject) {
    std::atomic<int> ends{0};
    std::atomic<int> made{0};
    std::atomic<HANDLE> current{InsertObject(std::make_shared<Probe>(&ends))};
    made = 1;
    std::atomic<bool> stop{false};
    std::atomic<int> endedSeen{0};
    std::vector<std::thread> callers;
    for (int k = 0; k < 3; ++k) {
        callers.emplace_back([&] {
            while (!stop.load()) {
                const auto call = BorrowObject(current.load());
                if (call && !static_cast<Probe*>(call.get())->Alive()) endedSeen.fetch_add(1);
            }
        });
    }
    for (int round = 0; round < 2000; ++round) {
        const HANDLE next = InsertObject(std::make_shared<Probe>(&ends));
        ASSERT_NE(next, INVALID_HANDLE_VALUE);
        made.fetch_add(1);
        EXPECT_TRUE(RemoveObject(current.exchange(next)));
    }
    stop = true;
    for (auto& caller : callers) caller.join();
    EXPECT_TRUE(RemoveObject(current.load()));
    EXPECT_EQ(endedSeen.load(), 0);
    EXPECT_EQ(ends.load(), made.load());
}

}  // namespace

#endif
