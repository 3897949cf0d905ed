#pragma once
// Named locks on Windows: one named mutex per name (CreateMutexA). Creating a named mutex
// and learning that the name already existed is one atomic step of the system, so two
// instances starting together never take the same name. The handles stay open until the
// process ends, when the system closes them and the names become free again.

#include <string>
#include <vector>

#include "app/instance_number.hpp"

namespace tq5::app {

class Win32NamedLocks final : public NamedLocks {
public:
    Win32NamedLocks() = default;
    // The mutexes stay held: only the process's end releases them.
    ~Win32NamedLocks() override = default;
    Win32NamedLocks(const Win32NamedLocks&) = delete;
    Win32NamedLocks& operator=(const Win32NamedLocks&) = delete;

    // False when the name exists already, or when no mutex can be had under it (a name held
    // by another kind of object, for one): either way the name counts as taken.
    [[nodiscard]] bool TryTake(const std::string& name) override;

private:
    std::vector<void*> held_;  // HANDLEs kept open on purpose
};

}  // namespace tq5::app
