#include <cstring>

#include "engine/procedures/exchange.hpp"
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
// the image slot; a failed device read leaves both slots untouched.
Result ReadVersionField(const ProcedureEnv& env, const VersionField& field, VersionSlot slot) {
    VersionBuffer device{};
    if (Result read = ReadDeviceMemory(env, field.flashAddress, kVersionFieldLength, device.data());
        !read.IsOk()) {
        return read;
    }
    env.context.Log().NoteDeviceVersion(slot, device.data());
    SanitizeVersion(device);
    env.versions.Set(VersionSource::Device, slot, TextOf(device));
    // A missing image leaves the zeroed buffer empty: its text is then empty too.
    VersionBuffer image{};
    static_cast<void>(ReadImageBytes(env.firmware, field.imageId, field.imageOffset,
                                     kVersionFieldLength, image.data()));
    env.versions.Set(VersionSource::Image, slot, TextOf(image));
    return Result::Ok();
}

Result ReadVersions(const ProcedureEnv& env) {
    if (Result identified = IdentifyDevice(env); !identified.IsOk()) return identified;
    env.context.Log().EnterPhase(Phase::Versions);
    if (Result read = ReadVersionField(env, kSystemVersion, VersionSlot::System); !read.IsOk()) {
        return read;
    }
    // A failed preset read keeps the preset texts of the last check; the check goes on.
    if (Result read = ReadVersionField(env, kPresetVersion, VersionSlot::Preset);
        read.IsClosing()) {
        return read;
    }
    return ReadVersionField(env, kBootVersion, VersionSlot::Boot);
}

}  // namespace

void VersionCheckThread(const ProcedureEnv& env, PortGeneration ports) {
    env.context.CloseReplyLedger();  // a check sends no status request: nothing is counted
    const Result result = ReadVersions(env);
    // A failed identification ends the check as it ends an update: its error box, outcome and
    // released controls. A failed read shows nothing; the completion handler releases them.
    if (result.IsFailed() && result.GetFailure().phase == Phase::Identify) {
        ReportFailure(env.host, result.GetFailure());
    }
    // A closing window has closed its ports and wants nothing more from this worker.
    if (env.context.IsClosing()) return;
    // Controls released early (a failed identification) let a newer procedure open the
    // ports again; those are not ours to close, and the controls are that procedure's: a
    // completion posted now would release them while it runs.
    if (!env.ports.CloseIfCurrent(ports)) return;
    env.host.PostVersionCheckDone(result.IsOk());
}

}  // namespace tq5::engine
