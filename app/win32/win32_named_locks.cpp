#include "app/win32/win32_named_locks.hpp"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace tq5::app {

bool Win32NamedLocks::TryTake(const std::string& name) {
    // Owned at once by this thread, default security, no namespace prefix.
    HANDLE mutex = CreateMutexA(nullptr, TRUE, name.c_str());
    if (mutex == nullptr) return false;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return false;
    }
    held_.push_back(mutex);
    return true;
}

}  // namespace tq5::app
