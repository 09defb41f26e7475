// A named mutex per user: the second start cannot take it while the first
// holds it; one left by a crashed agent is abandoned and taken over.
#include "agent/single_instance.h"

#include <windows.h>

#include "core/files.h"
#include "core/text.h"

namespace {

std::wstring mutex_name() {
    wchar_t user[257] = {};
    DWORD size = 257;
    if (!GetUserNameW(user, &size)) user[0] = L'\0';
    return std::wstring(L"Local\\vantor-agent-") + user;
}

}  // namespace

LockAttempt take_instance_lock(InstanceLock& lock, const std::filesystem::path& data_folder) {
    LockAttempt attempt;
    HANDLE mutex = CreateMutexW(nullptr, FALSE, mutex_name().c_str());
    if (!mutex) {
        attempt.error = "CreateMutexW failed, GetLastError=" + std::to_string(GetLastError());
        return attempt;
    }
    const DWORD waited = WaitForSingleObject(mutex, 0);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
        lock.handle = reinterpret_cast<std::intptr_t>(mutex);
        attempt.taken = true;
        // Only the holder writes it, so it names the running agent.
        if (!data_folder.empty() &&
            !write_whole_file(data_folder / kLockFileName, std::to_string(GetCurrentProcessId()) + "\n"))
            attempt.error = "cannot write the pid into " + path_to_utf8(data_folder / kLockFileName);
        return attempt;
    }
    CloseHandle(mutex);
    if (waited == WAIT_TIMEOUT) attempt.running_pid = lock_file_pid(data_folder);
    else attempt.error = "WaitForSingleObject failed, GetLastError=" + std::to_string(GetLastError());
    return attempt;
}

void release_instance_lock(InstanceLock& lock) {
    if (lock.handle == -1) return;
    HANDLE mutex = reinterpret_cast<HANDLE>(lock.handle);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    lock.handle = -1;
}
