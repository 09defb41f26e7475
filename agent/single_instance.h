// One agent per user at a time. A second start would fail to bind the GSI
// port and then tail the same console.log and rewrite the same files, so it
// finds the first and steps back. Held through a named mutex on Windows and
// an flock on agent.lock elsewhere: both end with the process, so a crashed
// agent leaves nothing that holds back the next start. agent.lock in the
// data folder tells the pid of the agent that holds the lock.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

struct InstanceLock {
    std::intptr_t handle = -1;   // the mutex, or the lock file's descriptor; -1: none held
};

struct LockAttempt {
    bool taken = false;              // this process is the user's agent now
    std::uint32_t running_pid = 0;   // not taken and no error: the agent that runs (0: not known)
    std::string error;               // no lock could be made at all: why
};

// `data_folder`: the agent data folder (created when missing).
LockAttempt take_instance_lock(InstanceLock& lock, const std::filesystem::path& data_folder);
void release_instance_lock(InstanceLock& lock);

// The pid agent.lock names; 0 when it names none.
std::uint32_t lock_file_pid(const std::filesystem::path& data_folder);

// "vantor-agent is already running (pid N)".
std::string already_running_text(std::uint32_t pid);

inline constexpr char kLockFileName[] = "agent.lock";
