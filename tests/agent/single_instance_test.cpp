#include "agent/single_instance.h"

#include <gtest/gtest.h>

#include <thread>

#include "tests/support/test_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
std::uint32_t own_pid() { return GetCurrentProcessId(); }
#else
std::uint32_t own_pid() { return static_cast<std::uint32_t>(getpid()); }
#endif

// Another start, on a thread of its own: a mutex is its owner thread's again
// and again, and an flock is the open file's, so a thread stands for a process.
LockAttempt another_start(const std::filesystem::path& folder, bool keep = false) {
    LockAttempt attempt;
    std::thread([&] {
        InstanceLock lock;
        attempt = take_instance_lock(lock, folder);
        if (!keep) release_instance_lock(lock);   // kept: a crash, nothing released
    }).join();
    return attempt;
}

}  // namespace

TEST(SingleInstance, TheFirstHoldsTheLockTheNextIsToldItsPidUntilItEnds) {
    const std::filesystem::path folder = make_temp_dir("instance") / "vantor";   // made when missing
    InstanceLock first;
    const LockAttempt taken = take_instance_lock(first, folder);
    EXPECT_TRUE(taken.taken);
    EXPECT_EQ(taken.error, "");
    EXPECT_EQ(lock_file_pid(folder), own_pid());
    const LockAttempt second = another_start(folder);
    EXPECT_FALSE(second.taken);
    EXPECT_EQ(second.error, "");
    EXPECT_EQ(second.running_pid, own_pid());
    EXPECT_EQ(already_running_text(second.running_pid), "vantor-agent is already running (pid " + std::to_string(own_pid()) + ")");
    release_instance_lock(first);
    release_instance_lock(first);   // twice is harmless
    EXPECT_TRUE(another_start(folder).taken);
}

// A crashed agent's lock (an abandoned mutex; a lock file naming a pid that
// no longer holds it) does not hold back the next start, which writes its own pid.
TEST(SingleInstance, ALockLeftByACrashIsTakenOver) {
    const std::filesystem::path folder = make_temp_dir("instance-crash");
#ifdef _WIN32
    ASSERT_TRUE(another_start(folder, true).taken);
#else
    write_test_file(folder / kLockFileName, "999999\n");
#endif
    InstanceLock next;
    EXPECT_TRUE(take_instance_lock(next, folder).taken);
    EXPECT_EQ(lock_file_pid(folder), own_pid());
    release_instance_lock(next);
}

#ifndef _WIN32
// Without a folder to lock in the run goes on unlocked, and says why.
TEST(SingleInstance, NoLockFileNoLock) {
    const std::filesystem::path file = make_temp_dir("instance-file") / "a-file";
    write_test_file(file, "");
    for (const std::filesystem::path& folder : {std::filesystem::path(), file}) {
        InstanceLock lock;
        const LockAttempt attempt = take_instance_lock(lock, folder);
        EXPECT_FALSE(attempt.taken);
        EXPECT_NE(attempt.error, "") << folder;
        EXPECT_EQ(lock.handle, -1);
    }
}
#endif
