#pragma once
// Instance numbers 1 to 20. Each running updater holds the named lock of its number for the
// rest of its life; the number tells instances apart in their window titles and in the MIDI
// port names each prefers. The lock itself is platform code behind NamedLocks.

#include <string>

namespace tq5::app {

inline constexpr int kMaxInstances = 20;

// Named locks that live until the process ends (also when it dies): the system frees them.
class NamedLocks {
public:
    virtual ~NamedLocks() = default;
    // Takes the lock of this name for the rest of the process's life. False when another
    // holder has it, or when it can't be had for any other reason: either way it is taken.
    [[nodiscard]] virtual bool TryTake(const std::string& name) = 0;
};

// The title of instance n, which is also the name of its lock: the plain title for 1,
// "VARN TQ-5 System v1.10 Updater (n)" for 2 and above.
std::string InstanceTitle(int instanceNumber);

// Claims the first free number from 1 to 20 in order; 0 when all twenty are taken.
int ClaimInstanceNumber(NamedLocks& locks);

// "It is forbidden to launch more than 20 instance of this application."
std::string TooManyInstancesText();

}  // namespace tq5::app
