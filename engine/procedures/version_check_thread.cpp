#include <cstring>

#include "engine/procedures/flash_steps.hpp"
#include "engine/procedures/identify_device.hpp"
#include "engine/procedures/version_check.hpp"

namespace tq5::engine {
namespace {

std::string TextOf(const VersionBuffer& buffer) {
    // The buffer's fifth byte is always zero, so the text ends inside it.
    return std::string(reinterpret_cast<const char*>(buffer.data()));
}

// Reads one version field from the device into the device slot and the image's field into
// the image slot. false (slots untouched) when the device read fails.
bool ReadVersionField(const ProcedureEnv& env, const VersionField& field, VersionSlot slot) {
    VersionBuffer device{};
    if (ReadDeviceMemory(env, field.flashAddress, kVersionFieldLength, device.data()) != 0) {
        return false;
    }
    env.context.Log().NoteDeviceVersion(slot, device.data());
    SanitizeVersion(device);
    env.versions.Set(VersionSource::Device, slot, TextOf(device));
    // A missing image leaves the zeroed buffer empty; its result is not looked at.
    VersionBuffer image{};
    ReadImageBytes(env.firmware, field.imageId, field.imageOffset, kVersionFieldLength,
                   image.data());
    env.versions.Set(VersionSource::Image, slot, TextOf(image));
    return true;
}

std::int32_t ReadVersions(const ProcedureEnv& env) {
    if (IdentifyDevice(env) != 0) return -1;
    env.context.Log().EnterPhase(Phase::Versions);
    if (!ReadVersionField(env, kSystemVersion, VersionSlot::System)) return -1;
    // A failed preset read keeps the preset texts of the last check; the check goes on.
    ReadVersionField(env, kPresetVersion, VersionSlot::Preset);
    if (!ReadVersionField(env, kBootVersion, VersionSlot::Boot)) return -1;
    return 0;
}

}  // namespace

int VersionCheckThread(const ProcedureEnv& env, PortGeneration ports) {
    env.context.CloseReplyLedger();  // a check sends no status request: nothing is counted
    const std::int32_t result = ReadVersions(env);
    // A closing window has closed its ports and wants nothing more from this worker.
    if (env.context.IsClosing()) return 0;
    // Controls released early (a failed identification) let a newer procedure open the
    // ports again; those are not ours to close, and the controls are that procedure's: a
    // completion posted now would release them while it runs.
    if (!env.ports.CloseIfCurrent(ports)) return 0;
    env.host.PostVersionCheckDone(result);
    return 0;
}

}  // namespace tq5::engine
