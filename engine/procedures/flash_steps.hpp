#pragma once
// The flash programming steps: the plan runner and the erase, write and read exchanges.
// Each returns 0 on success and -1 on failure; a failure has been reported and the controls
// released, except when the window is closing (nothing shown, no control touched) and for
// ReadDeviceMemory, which shows nothing and leaves the controls to its caller.

#include <cstdint>

#include "engine/procedures/procedure_env.hpp"

namespace tq5::engine {

// Most consecutive failures of one block (time-outs and error statuses together).
inline constexpr int kMaxBlockAttempts = 32;
// Most times one EraseRequest is sent.
inline constexpr int kMaxEraseAttempts = 7;

// Reads the device's boot version, then runs the ten rows of the flash plan, skipping the
// boot rows when the device's boot version equals the boot image's. `bootRowsRan`, when
// given, tells whether they ran.
int RunFlashPlan(const ProcedureEnv& env, bool* bootRowsRan = nullptr);

// Reads back every region the plan wrote (the boot image's only when the boot rows ran) and
// compares it with its image, through `env.reader` (one of its own when there is none). The
// first difference, or a read that keeps failing at a size the device served, fails with
// "Transfer error occurred.". 0 also when the device serves no read: the reader says so.
int VerifyFlash(const ProcedureEnv& env, bool bootRowsRan);

int EraseRegion(const ProcedureEnv& env, std::uint32_t address, std::uint32_t size);

// Writes image `resourceId` at `address` in blocks of 4096 bytes; `size` 0 = the whole image.
// With a reader in `env`, a block whose answer never came and whose resend the device
// refused is read back, and counts as written when the flash holds it.
int WriteImage(const ProcedureEnv& env, std::uint32_t address, std::uint32_t size,
               std::uint32_t resourceId);

// Reads `length` bytes of device memory at `address`; on success copies exactly four bytes
// to `out`. Shows nothing and touches no control.
int ReadDeviceMemory(const ProcedureEnv& env, std::uint32_t address, std::uint32_t length,
                     std::uint8_t* out);

}  // namespace tq5::engine
